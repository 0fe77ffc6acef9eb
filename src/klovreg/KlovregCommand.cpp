#include "klovreg/KlovregCommand.h"

#include "core/platform/DriveMap.h"
#include "core/platform/Encoding.h"
#include "core/platform/ErrorText.h"
#include "core/platform/Folders.h"
#include "core/platform/PlatformFamily.h"
#include "core/regfiles/RegExporter.h"
#include "core/regfiles/RegFileError.h"
#include "core/regfiles/RegImporter.h"
#include "core/registry/RegistryError.h"
#include "core/wine/WinePrefix.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace klv {
namespace {

bool is(std::string_view arg, std::string_view name) {
    return equalsAsciiNoCase(arg, name);
}

bool isSwitch(std::string_view arg, char letter) {
    const char s[3] = {'/', letter, '\0'};
    const char d[3] = {'-', letter, '\0'};
    return is(arg, s) || is(arg, d);
}

// A failure told to the user as it stands (UTF-8).
struct Failure {
    std::string text;
};

std::string utf8(const std::string& cp932) {
    return cp932ToUtf8(cp932);
}

std::string describe(const RegistryError& e) {
    return utf8(e.detail().empty() ? std::string(e.what()) : e.fullText());
}

std::filesystem::path resolveFile(const KlovregSetup& setup, const std::string& arg) {
    if (arg.empty())
        throw Failure{"ファイル名が空です"};
    if (arg.size() >= 2 && arg[1] == ':' &&
        ((arg[0] >= 'A' && arg[0] <= 'Z') || (arg[0] >= 'a' && arg[0] <= 'z'))) {
        const auto cp932 = tryUtf8ToCp932(arg);
        const auto path = cp932 ? DriveMap(setup.systemFolder).toLinuxPath(*cp932) : std::nullopt;
        if (!path)
            throw Failure{"ドライブ " + arg.substr(0, 2) +
                          " はどのフォルダにも割り当てられていません: " + arg};
        return *path;
    }
    std::string p = arg;
    for (char& c : p)
        if (c == '\\')
            c = '/';
    if (p.front() == '/')
        return resolveNoCase("/", std::string_view(p).substr(1));
    return resolveNoCase(std::filesystem::current_path(), p);
}

std::string keyArgument(const std::string& arg) {
    auto cp932 = tryUtf8ToCp932(arg);
    if (!cp932)
        throw Failure{"キーの名前に CP932 で表せない文字があります: " + arg};
    return *cp932;
}

std::shared_ptr<Store> openStore(const KlovregSetup& setup) {
    const auto file =
        findNoCase(setup.systemFolder, "SYSTEM.DAT").value_or(setup.systemFolder / "SYSTEM.DAT");
    return Store::open(file, Store::Options{true, true});
}

int rootsOf(const KlovregSetup& setup) {
    return setup.ntFamily ? 5 : 6;
}

} // namespace

KlovregSetup KlovregSetup::forProcess(const char* argv0) {
    KlovregSetup s;
    s.ntFamily = isNtFamily();
    s.out = [](std::string_view t) { std::fwrite(t.data(), 1, t.size(), stdout); };
    s.err = [](std::string_view t) { std::fwrite(t.data(), 1, t.size(), stderr); };
    const char* windir = std::getenv("KLOVANTE_WINDIR");
    const std::string started = argv0 ? argv0 : "";
    if ((!windir || !*windir) && started.find('/') != std::string::npos) {
        const std::filesystem::path folder = std::filesystem::path(started).parent_path();
        if (findNoCase(folder, "SYSTEM.DAT")) {
            s.systemFolder = folder;
            return s;
        }
    }
    s.systemFolder = klv::systemFolder();
    return s;
}

KlovregCommand::KlovregCommand(std::vector<std::string> args) {
    if (!args.empty() && is(args.front(), "--wine-prefix")) {
        if (args.size() < 2 || args[1].empty()) {
            problem_ = "--wine-prefix には Wine のプレフィックスのフォルダを指定します";
            return;
        }
        winePrefix_ = args[1];
        args.erase(args.begin(), args.begin() + 2);
        if (args.size() == 1 && is(args.front(), "--write-back")) {
            action_ = Action::WriteBack;
            return;
        }
    }
    if (args.empty()) {
        problem_ = "引数がありません";
        return;
    }
    const std::string& first = args.front();
    if (is(first, "--help") || is(first, "-h") || is(first, "/?") || is(first, "-?")) {
        action_ = Action::Help;
        return;
    }
    if (is(first, "EXPORT")) {
        std::vector<std::string> positional;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (is(args[i], "/nt4"))
                nt4_ = true;
            else if (is(args[i], "/y"))
                continue; // overwrite without asking: exports always replace the file
            else
                positional.push_back(args[i]);
        }
        if (positional.empty() || positional.size() > 2) {
            problem_ = "EXPORT にはキーとファイル名（またはファイル名だけ）を指定します";
            return;
        }
        files_.push_back(positional.back());
        if (positional.size() == 2)
            key_ = positional.front();
        action_ = Action::ExportTool;
        return;
    }
    if (isSwitch(first, 'e')) {
        if (args.size() < 2 || args.size() > 3) {
            problem_ = "/E にはファイル名と、必要ならキーを指定します";
            return;
        }
        files_.push_back(args[1]);
        if (args.size() == 3)
            key_ = args[2];
        action_ = Action::Export;
        return;
    }
    if (isSwitch(first, 's')) {
        files_.assign(args.begin() + 1, args.end());
        if (files_.empty()) {
            problem_ = "/S には取り込むファイル名を指定します";
            return;
        }
        action_ = Action::ImportSilent;
        return;
    }
    for (const std::string& a : args) {
        if ((a.size() == 2 && (a[0] == '/' || a[0] == '-')) || a.rfind("--", 0) == 0) {
            problem_ = "不明なオプションです: " + a;
            return;
        }
    }
    files_ = std::move(args);
    action_ = Action::ImportAsking;
}

std::string KlovregCommand::usage() {
    return "使い方:\n"
           "  klovreg /E ファイル [キー]         キー（省略時はレジストリ全体）を書き出す\n"
           "                                    （NT 系は Unicode 形式、95 系は REGEDIT4 形式）\n"
           "  klovreg EXPORT キー ファイル /nt4  キーを REGEDIT4 形式で書き出す\n"
           "  klovreg EXPORT ファイル /nt4       レジストリ全体を REGEDIT4 形式で書き出す\n"
           "  klovreg /S ファイル...             確認せずに取り込む\n"
           "  klovreg ファイル...                確認してから取り込み、結果を知らせる\n"
           "  klovreg --help                     この説明\n"
           "  klovreg --wine-prefix フォルダ 上の引数...\n"
           "                                    Wine のプレフィックスのレジストリで実行し、"
           "変更を\n"
           "                                    プレフィックスのファイル (system.reg など) "
           "へ書き戻す\n"
           "  klovreg --wine-prefix フォルダ --write-back\n"
           "                                    書き戻せずに残った変更を書き戻すだけ\n"
           "キーは HKEY_CURRENT_USER\\Software のように書きます。\n"
           "終了コード: 0 完了、1 失敗、2 引数の誤り、3 "
           "正確に書き出せなかった名前やデータがある、\n"
           "            4 取り込みを取り消した、5 取り込みに失敗し画面に表示済み、\n"
           "            6 書き込めないキーを除いて取り込んだ（そのキーと行を表示）、\n"
           "            7 Wine (wineserver) が動作中のため書き戻せなかった"
           "（変更は残っている）\n";
}

int KlovregCommand::run(const KlovregSetup& setup, KlovregUi& ui) const {
    if (winePrefix_ && action_ != Action::Help && action_ != Action::Invalid)
        return runInPrefix(setup, ui);
    return runAction(setup, ui);
}

int KlovregCommand::runAction(const KlovregSetup& setup, KlovregUi& ui) const {
    try {
        switch (action_) {
        case Action::Help:
            setup.out(usage());
            return kKlovregDone;
        case Action::Invalid:
            setup.err("klovreg: " + problem_ + "\n" + usage());
            return kKlovregUsage;
        case Action::Export:
        case Action::ExportTool:
            return exportFile(setup);
        case Action::ImportSilent:
            return importFiles(setup, nullptr);
        case Action::ImportAsking:
            return importFiles(setup, &ui);
        case Action::WriteBack:
            return kKlovregDone; // the write-back follows the command
        }
    } catch (const Failure& f) {
        setup.err("klovreg: " + f.text + "\n");
    } catch (const RegistryError& e) {
        setup.err("klovreg: " + describe(e) + "\n");
    } catch (const std::exception& e) {
        setup.err("klovreg: " + utf8(e.what()) + "\n");
    }
    return kKlovregFailed;
}

// Only the explicit option writes back: a klovreg that the program starts on a prefix's folders
// leaves that to the program's save points.
int KlovregCommand::runInPrefix(const KlovregSetup& setup, KlovregUi& ui) const {
    std::unique_ptr<wine::WinePrefix> prefix;
    try {
        prefix = std::make_unique<wine::WinePrefix>(*winePrefix_, programFolder());
        prefix->open();
    } catch (const RegistryError& e) {
        setup.err("klovreg: " + describe(e) + "\n");
        return kKlovregFailed;
    } catch (const std::exception& e) {
        setup.err("klovreg: " + utf8(describeError(e)) + "\n");
        return kKlovregFailed;
    }
    prefix->useInThisProcess();
    for (const std::string& note : prefix->notes())
        setup.err("klovreg: " + utf8(note) + "\n");
    KlovregSetup inPrefix = setup;
    inPrefix.systemFolder = prefix->systemFolder();
    const int code = action_ == Action::WriteBack ? kKlovregDone : runAction(inPrefix, ui);
    return writeBack(*prefix, setup, code);
}

int KlovregCommand::writeBack(wine::WinePrefix& prefix, const KlovregSetup& setup, int code) const {
    try {
        const std::vector<std::string> written = prefix.writeBack();
        if (action_ == Action::WriteBack) {
            if (written.empty())
                setup.out("書き戻す変更はありません。\n");
            for (const std::string& name : written)
                setup.out(name + " を書き戻しました。\n");
        }
        return code;
    } catch (const wine::WineServerRunningError& e) {
        setup.err("klovreg: " + utf8(e.what()) +
                  "\nklovreg: Wine の終了後に klovreg --wine-prefix " + *winePrefix_ +
                  " --write-back で書き戻せます。\n");
        return kKlovregWineRunning;
    } catch (const RegistryError& e) {
        setup.err("klovreg: " + describe(e) + "\n");
    } catch (const std::exception& e) {
        setup.err("klovreg: " + utf8(describeError(e)) + "\n");
    }
    return kKlovregFailed;
}

int KlovregCommand::exportFile(const KlovregSetup& setup) const {
    const std::filesystem::path file = resolveFile(setup, files_.front());
    const std::string key = keyArgument(key_);
    ExportOptions options;
    const bool regedit4 = !setup.ntFamily || (action_ == Action::ExportTool && nt4_);
    options.form = regedit4 ? RegFileForm::Regedit4 : RegFileForm::Unicode;
    options.rootCount = rootsOf(setup);
    auto store = openStore(setup);
    const ExportReport report = RegExporter(*store, options).exportToFile(file, key);
    for (const std::string& loss : report.losses)
        setup.err("klovreg: " + utf8(loss) + "\n");
    if (action_ == Action::ExportTool)
        setup.out("この操作を正しく終了しました。\n");
    return report.losses.empty() ? kKlovregDone : kKlovregLossy;
}

int KlovregCommand::importFiles(const KlovregSetup& setup, KlovregUi* ui) const {
    auto store = openStore(setup);
    ImportOptions options;
    options.rootCount = rootsOf(setup);
    bool refused = false;
    for (const std::string& arg : files_) {
        if (ui && !ui->confirm(arg + " の情報をレジストリに追加しますか？\n\n"
                                     "信頼できない登録ファイルの情報を追加すると、値が意図せず"
                                     "変更または削除され、プログラムが正しく動作しなくなる"
                                     "ことがあります。"))
            return kKlovregCancelled;
        ImportReport report;
        try {
            report = RegImporter(*store, options).importFile(resolveFile(setup, arg));
        } catch (const Failure& f) {
            if (!ui)
                throw;
            ui->error(arg + " を取り込めません。\n\n" + f.text);
            return kKlovregReported;
        } catch (const RegistryError& e) {
            if (!ui)
                throw;
            ui->error(arg + " を取り込めません。\n\n" + describe(e) +
                      "\n\nレジストリは変更されていません。");
            return kKlovregReported;
        }
        if (!report.refused.empty()) {
            // What may be imported is; the keys that may not be written are named.
            refused = true;
            std::string list;
            for (const RefusedKey& k : report.refused)
                list += utf8(k.key) + "（" + std::to_string(k.line) + " 行目）: " + utf8(k.reason) +
                        "\n";
            if (ui) {
                ui->error(arg +
                          " の情報の一部はレジストリに入力できませんでした。"
                          "次のキーには書き込めません。\n\n" +
                          list + "\nそのほかの情報はレジストリに入力されました。");
            } else {
                std::size_t start = 0;
                for (std::size_t end; (end = list.find('\n', start)) != std::string::npos;
                     start = end + 1)
                    setup.err("klovreg: " + arg + ": " + list.substr(start, end - start + 1));
            }
            continue;
        }
        if (ui)
            ui->inform(arg + " の情報は正常にレジストリに入力されました。");
    }
    return refused ? kKlovregRefused : kKlovregDone;
}

} // namespace klv
