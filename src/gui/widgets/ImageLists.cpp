#include "gui/widgets/ImageLists.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QtGlobal>
#include <memory>
#include <vector>

// Q_INIT_RESOURCE declares a global function, so it must be called outside any namespace. The
// icons are compiled into a static library: without this reference the linker drops them.
static void initIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace klv {
namespace {

constexpr int kToolCount = static_cast<int>(ImageLists::ToolImage::Count);
constexpr int kSharedCount = ImageLists::ImgToolFirst + kToolCount;

constexpr std::array<const char*, ImageLists::TreeImageCount> kTreeFiles = {
    "key_closed", "key_open", "key_closed_readonly", "key_open_readonly"};

struct SharedFile {
    int index;
    const char* name;
};

constexpr SharedFile kSharedFiles[] = {
    {ImageLists::ImgFavorite, "favorite"},
    {ImageLists::ImgString, "value_string"},
    {ImageLists::ImgBinary, "value_binary"},
    {ImageLists::ImgInteger, "value_dword"},
    {ImageLists::ImgMultiString, "value_multi"},
    {ImageLists::ImgExpandString, "value_expand"},
    {ImageLists::ImgReadOnlyOn, "readonly_on"},
    {ImageLists::ImgHistory, "history"},
    {ImageLists::ImgUndo, "undo"},
    {ImageLists::ImgReadOnlyOff, "readonly_off"},
    {ImageLists::ImgValueHolder, "holder"},
    {ImageLists::ImgComputer, "computer"},
};

// In ToolImage order.
constexpr std::array<const char*, kToolCount> kToolFiles = {"new_window",
                                                            "close_window",
                                                            "new_key",
                                                            "new_string",
                                                            "new_dword",
                                                            "new_binary",
                                                            "delete",
                                                            "rename",
                                                            "modify",
                                                            "refresh",
                                                            "search",
                                                            "replace",
                                                            "export",
                                                            "import",
                                                            "print",
                                                            "options",
                                                            "readonly_on",
                                                            "readonly_off",
                                                            "function_panel",
                                                            "view_large",
                                                            "view_small",
                                                            "view_list",
                                                            "view_report",
                                                            "go",
                                                            "expand_all",
                                                            "collapse_all",
                                                            "cut",
                                                            "copy",
                                                            "paste",
                                                            "copy_key_name",
                                                            "help",
                                                            "exit",
                                                            "backup",
                                                            "script_run",
                                                            "script_edit",
                                                            "orphan_search",
                                                            "change_tracking",
                                                            "quick_search",
                                                            "checker",
                                                            "check_all",
                                                            "uncheck_all",
                                                            "build_database",
                                                            "stop",
                                                            "save",
                                                            "change_created",
                                                            "change_updated",
                                                            "change_deleted"};

QIcon loadBuiltin(const char* name) {
    return QIcon(QStringLiteral(":/icons/") + QLatin1String(name) + QStringLiteral(".svg"));
}

// Every image of the file (an .ico holds several sizes); null when none can be read.
QIcon loadUserFile(const QString& file) {
    QIcon icon;
    if (file.isEmpty()) {
        return icon;
    }
    QImageReader reader(file);
    // A bound, so that a broken multi-image file cannot keep the loop going.
    for (int i = 0; i < 64; ++i) {
        const QImage image = reader.read();
        if (image.isNull()) {
            break;
        }
        icon.addPixmap(QPixmap::fromImage(image));
        if (!reader.jumpToNextImage()) {
            break;
        }
    }
    return icon;
}

struct Cache {
    std::array<QIcon, ImageLists::TreeImageCount> builtinTree;
    std::array<QIcon, ImageLists::TreeImageCount> tree;
    std::vector<QIcon> shared;
    QIcon app;
};

std::unique_ptr<Cache>& cacheSlot() {
    static std::unique_ptr<Cache> slot;
    return slot;
}

void dropCache() {
    cacheSlot().reset();
}

Cache& cache() {
    auto& slot = cacheSlot();
    if (slot) {
        return *slot;
    }
    initIconResources();
    auto c = std::make_unique<Cache>();
    for (std::size_t i = 0; i < kTreeFiles.size(); ++i) {
        c->builtinTree[i] = loadBuiltin(kTreeFiles[i]);
    }
    c->tree = c->builtinTree;
    c->shared.resize(kSharedCount);
    for (const auto& f : kSharedFiles) {
        c->shared[static_cast<std::size_t>(f.index)] = loadBuiltin(f.name);
    }
    for (int i = 0; i < kToolCount; ++i) {
        c->shared[static_cast<std::size_t>(ImageLists::ImgToolFirst + i)] =
            loadBuiltin(kToolFiles[static_cast<std::size_t>(i)]);
    }
    c->app = loadBuiltin("klovante");
    if (c->app.isNull()) {
        qWarning("klovante: SVG icons cannot be drawn; the Qt SVG plugins (libqt6svg6) are "
                 "missing");
    }
    slot = std::move(c);
    // Icons hold pixmaps, which must go before the application object does.
    qAddPostRoutine(dropCache);
    return *slot;
}

} // namespace

QIcon ImageLists::treeImage(int index) {
    if (index < 0 || index >= TreeImageCount) {
        return {};
    }
    return cache().tree[static_cast<std::size_t>(index)];
}

QIcon ImageLists::sharedImage(int index) {
    if (index < 0 || index >= kSharedCount) {
        return {};
    }
    return cache().shared[static_cast<std::size_t>(index)];
}

int ImageLists::sharedImageCount() {
    return kSharedCount;
}

QIcon ImageLists::toolImage(ToolImage id) {
    return sharedImage(ImgToolFirst + static_cast<int>(id));
}

QIcon ImageLists::appIcon() {
    return cache().app;
}

void ImageLists::setUserKeyImages(const std::array<QString, 4>& files) {
    auto& c = cache();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QIcon user = loadUserFile(files[i]);
        c.tree[i] = user.isNull() ? c.builtinTree[i] : user;
    }
}

void ImageLists::resetKeyImages() {
    auto& c = cache();
    c.tree = c.builtinTree;
}

} // namespace klv
