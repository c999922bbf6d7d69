#include "ScriptedUiPrompter.h"
#include "support/TestSupport.h"

#include "app/ZOAppDelegate.h"
#include "app/ZOSLAController.h"
#include "platform/defaults/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <vector>

using koru::LicenceAnswer;
using koru::platform::UserDefaults;
using koru::test::ScopedScriptedPrompter;
using koru::test::ScriptedUiPrompter;

namespace {

// A defaults file of its own in a folder of its own, as on a fresh account.
QString freshDefaultsPath() {
    static std::atomic<int> serial{0};
    return koru::test::testRoot() + QStringLiteral("/licence-%1/KORU/defaults.plist").arg(++serial);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(LicenceGate, AsksOnlyUntilAgreedAndWritesOnlyTheAgreement) {
    struct Case {
        const char* what;
        std::optional<bool> storedBefore; // "sla_accept" from an earlier start
        std::optional<LicenceAnswer> answer;
        bool asked;
        bool goesOn;
    };
    const std::vector<Case> cases = {
        {"first start, agreed", std::nullopt, LicenceAnswer::Agree, true, true},
        {"first start, declined", std::nullopt, LicenceAnswer::Disagree, true, false},
        {"agreed on an earlier start", true, std::nullopt, false, true},
        {"declined before, agreed now", false, LicenceAnswer::Agree, true, true},
        {"declined before and again", false, LicenceAnswer::Disagree, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = freshDefaultsPath();
        if (c.storedBefore)
            UserDefaults(path).setBool(ZOSLAController::kAcceptKey, *c.storedBefore);
        const QByteArray before = contents(path);

        ScriptedUiPrompter prompter;
        if (c.answer)
            prompter.licenceAnswers.push_back(*c.answer);
        UserDefaults defaults(path); // as the program finds it at start
        EXPECT_EQ(ZOAppDelegate::settleLicenceAgreement(defaults, prompter), c.goesOn);

        ASSERT_EQ(prompter.licenceTexts.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(prompter.licenceTexts.front(), ZOSLAController::agreementText());
        }
        EXPECT_TRUE(prompter.alerts.empty());

        const bool agreedNow = c.asked && c.goesOn;
        if (!agreedNow) {
            // Nothing written: no file on a first start, the same bytes otherwise.
            EXPECT_EQ(QFileInfo::exists(path), c.storedBefore.has_value());
            EXPECT_EQ(contents(path), before);
            continue;
        }
        // On disk at once, as the next start reads it.
        const UserDefaults nextStart(path);
        EXPECT_EQ(nextStart.objectForKey(ZOSLAController::kAcceptKey), QVariant(true));
    }
}

TEST(LicenceGate, AgreeingOnceIsEnoughForEveryLaterStart) {
    const QString path = freshDefaultsPath();
    ScriptedUiPrompter first;
    first.licenceAnswers.push_back(LicenceAnswer::Agree);
    {
        UserDefaults defaults(path);
        ASSERT_TRUE(ZOAppDelegate::settleLicenceAgreement(defaults, first));
    }
    for (int start = 0; start < 3; ++start) {
        ScriptedUiPrompter later; // would decline if it were asked
        UserDefaults defaults(path);
        EXPECT_TRUE(ZOAppDelegate::settleLicenceAgreement(defaults, later)) << start;
        EXPECT_TRUE(later.licenceTexts.empty()) << start;
    }
}

// The form main() calls: the standard defaults and the program's prompter.
TEST(LicenceGate, DecliningInTheProgramLeavesNoDefaultsFile) {
    const QString standardPath =
        QDir(koru::test::testRoot()).filePath("config/KORU/defaults.plist");
    if (QFileInfo::exists(standardPath))
        GTEST_SKIP() << "an earlier test of this process wrote the standard defaults";
    ScopedScriptedPrompter scripted;
    scripted.prompter.licenceAnswers.push_back(LicenceAnswer::Disagree);

    EXPECT_FALSE(ZOAppDelegate::settleLicenceAgreement());
    EXPECT_EQ(scripted.prompter.licenceTexts.size(), 1u);
    EXPECT_EQ(UserDefaults::standardUserDefaults().path(), standardPath);
    EXPECT_FALSE(QFileInfo::exists(standardPath));
}

TEST(LicenceGate, TheAgreementTextIsPartOfTheProgram) {
    QFile resource(ZOSLAController::kAgreementResource);
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly)) << "the licence text was not compiled in";
    const QString text = ZOSLAController::agreementText();
    EXPECT_EQ(text, QString::fromUtf8(resource.readAll()));
    EXPECT_TRUE(text.contains(QStringLiteral("KORU Licence Agreement")));
    EXPECT_TRUE(text.contains(QStringLiteral("I Agree")));
}

} // namespace
