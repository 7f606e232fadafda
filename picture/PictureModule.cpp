#include "core/ConfusionPictureModule.h"
#include "learning/ConfusionPicture.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

extern "C" __attribute__((visibility("default"))) int
brevaloDrawConfusion(const Evaluation* evaluation, const char* const* folderNames, int folderCount,
                     const char* path, char* error, std::size_t errorSize) {
    // Qt draws text only inside an application object; the tool shows no window, so the
    // offscreen platform serves on a machine without a display as well.
    std::unique_ptr<QGuiApplication> application;
    if (!QCoreApplication::instance()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "brevalo-cli";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QGuiApplication>(argc, argv);
    }
    std::vector<std::string> names(folderNames, folderNames + folderCount);
    std::string why;
    if (ConfusionPicture(*evaluation, names).save(path, &why))
        return 0;
    std::snprintf(error, errorSize, "%s", why.c_str());
    return 1;
}

// The entry point's type is the one the tool calls it by.
static_assert(std::is_same_v<decltype(&brevaloDrawConfusion), DrawConfusion>);
