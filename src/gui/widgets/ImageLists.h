#pragma once
// The program's built-in images, grouped the way the main window's image lists number them.
// Every accessor needs a QGuiApplication; the images are loaded on first use and kept until
// the application object goes away.
#include <QIcon>
#include <QString>
#include <array>

namespace klv {

class ImageLists {
public:
    // Indexes into treeImage().
    enum TreeImage {
        TreeKeyClosed = 0,
        TreeKeyOpen = 1,
        TreeReadOnlyClosed = 2,
        TreeReadOnlyOpen = 3,
        TreeImageCount = 4,
    };

    // Indexes into sharedImage(). The indexes up to ImgReadOnlyOff are fixed; the gaps
    // (1, 5, 7-9, 11-15, 17-19, 22-33) hold no image. From ImgToolFirst on come the toolbar
    // images in ToolImage order: sharedImage(ImgToolFirst + int(id)) is toolImage(id).
    enum SharedImage {
        ImgFavorite = 0,
        ImgString = 2,
        ImgBinary = 3,
        ImgInteger = 4,
        ImgMultiString = 6,
        ImgExpandString = 10,
        ImgReadOnlyOn = 16,
        ImgHistory = 20,
        ImgUndo = 21,
        ImgReadOnlyOff = 34,
        ImgValueHolder = 35,
        ImgComputer = 36, // the top of the key tree
        ImgToolFirst = 40,
    };

    enum class ToolImage {
        NewWindow,
        CloseWindow,
        NewKey,
        NewString,
        NewDword,
        NewBinary,
        Delete,
        Rename,
        Modify,
        Refresh,
        Search,
        Replace,
        Export,
        Import,
        Print,
        Options,
        ReadOnlyOn,
        ReadOnlyOff,
        FunctionPanel,
        ViewLargeIcons,
        ViewSmallIcons,
        ViewList,
        ViewReport,
        Go,
        ExpandAll,
        CollapseAll,
        Cut,
        Copy,
        Paste,
        CopyKeyName,
        Help,
        Exit,
        StatusBackup,
        ScriptRun,
        ScriptEdit,
        OrphanSearch,
        ChangeTracking,
        QuickSearch,
        RegistryCheck,
        CheckAll,
        UncheckAll,
        BuildDatabase,
        Stop,
        Save,
        // The marks of the change-tracking results: created, updated, deleted.
        ChangeCreated,
        ChangeUpdated,
        ChangeDeleted,
        Count,
    };

    // An index outside the list gives an empty QIcon.
    static QIcon treeImage(int index);
    static QIcon sharedImage(int index);
    // One past the last index of sharedImage().
    static int sharedImageCount();
    static QIcon toolImage(ToolImage id);
    static QIcon appIcon();

    // Replaces the four key images (TreeImage order) by image files such as .ico; an empty
    // name or a file that cannot be read keeps the built-in image for that slot.
    static void setUserKeyImages(const std::array<QString, 4>& files);
    // Back to the built-in key images.
    static void resetKeyImages();
};

} // namespace klv
