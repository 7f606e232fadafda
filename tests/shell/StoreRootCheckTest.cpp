// The tray program's look at its store root before it starts: a named root without a
// store is an error, the default one is offered, and nothing is created unasked.

#include "../editor/QtTestSupport.h"

#include "util/ErrorReport.h"
#include "platform/Store.h"
#include "platform/profile/Loc.h"
#include "shell/StoreRootCheck.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTemporaryDir>

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

enum class Answer { none, yes, no };

struct RootCase {
    const char* name;
    bool exists;
    bool chosen; // MAILDIR named it
    Answer answer;
    int status;
    bool storeAfter;
    const char* error; // the error box's text, from its start; null: none
};

class StoreRootCheck : public testing::TestWithParam<RootCase> {};

TEST_P(StoreRootCheck, OnlyThePersonsYesMakesAStore) {
    const RootCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    locOpen(std::string(BREVALO_BIN_DIR) + "/strings.ini");
    std::vector<std::string> errors;
    ErrorReporter previous =
        setErrorReporter([&](const std::string& caption, const std::string& text) {
            errors.push_back(caption + ": " + text);
        });
    ProgramEnvironment environment;
    environment.storeRoot = dir.path().toStdString() + "/Mail/Maildir";
    environment.storeRootChosen = c.chosen;
    if (c.exists) {
        ASSERT_EQ(createStoreRoot(environment.storeRoot), S_OK);
    }

    std::string question;
    if (c.answer != Answer::none)
        whenModal([&](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            ASSERT_TRUE(box);
            question = box->text().toStdString();
            box->button(c.answer == Answer::yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
    EXPECT_EQ(checkStoreRoot(environment), c.status);
    setErrorReporter(previous);
    locClose();

    EXPECT_EQ(storeRootExists(environment.storeRoot), c.storeAfter);
    if (!c.storeAfter) {
        EXPECT_FALSE(fs::exists(dir.path().toStdString() + "/Mail"));
    }
    if (c.answer != Answer::none) {
        EXPECT_EQ(question, "There is no mail store at " + environment.storeRoot +
                                " yet. Create an empty one there?");
    }
    if (!c.error) {
        EXPECT_TRUE(errors.empty()) << errors[0];
        return;
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(std::string(c.error) + environment.storeRoot + ".", 0), 0u)
        << errors[0];
}

INSTANTIATE_TEST_SUITE_P(
    Roots, StoreRootCheck,
    testing::Values(
        RootCase{"existing_store", true, true, Answer::none, -1, true, nullptr},
        RootCase{"existing_default", true, false, Answer::none, -1, true, nullptr},
        RootCase{"named_but_missing", false, true, Answer::none, 1, false,
                 "Error: There is no mail store at "},
        RootCase{"default_missing_declined", false, false, Answer::no, 0, false, nullptr},
        RootCase{"default_missing_accepted", false, false, Answer::yes, -1, true, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
