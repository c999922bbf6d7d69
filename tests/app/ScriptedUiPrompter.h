#pragma once

#include "app/UiPrompter.h"

#include <QUrl>

#include <deque>
#include <optional>
#include <vector>

namespace koru::test {

// A prompter that answers from a script and keeps what it was asked. An alert or panel without a
// scripted answer gets the default button or a cancel (the licence: disagree), so a test that
// forgot one fails on its own assertions rather than hanging.
class ScriptedUiPrompter : public UiPrompter {
public:
    std::deque<Response> alertAnswers;
    std::deque<QString> panelAnswers; // a null string cancels the panel
    // The states an open panel's check boxes are left at, one entry per chosen file; without
    // one they keep the states the panel offered.
    std::deque<std::vector<bool>> checkBoxAnswers;
    std::deque<LicenceAnswer> licenceAnswers;
    bool openUrlAnswer = true;

    std::vector<Alert> alerts;
    std::vector<FilePanel> savePanels;
    std::vector<FilePanel> openPanels;
    std::vector<QString> licenceTexts;
    std::vector<QUrl> openedUrls;

    Response runModal(const Alert& alert) override {
        alerts.push_back(alert);
        return next(alertAnswers, Response::Default);
    }
    std::optional<QString> runSavePanel(const FilePanel& panel) override {
        savePanels.push_back(panel);
        return nextPanelAnswer();
    }
    std::optional<QString> runOpenPanel(FilePanel& panel) override {
        openPanels.push_back(panel);
        std::optional<QString> answer = nextPanelAnswer();
        if (answer && !checkBoxAnswers.empty()) {
            const std::vector<bool> states = checkBoxAnswers.front();
            checkBoxAnswers.pop_front();
            for (std::size_t i = 0; i < states.size() && i < panel.checkBoxes.size(); ++i)
                panel.checkBoxes[i].checked = states[i];
        }
        return answer;
    }
    LicenceAnswer runLicenceAgreement(const QString& html) override {
        licenceTexts.push_back(html);
        return next(licenceAnswers, LicenceAnswer::Disagree);
    }
    bool openUrl(const QUrl& url) override {
        openedUrls.push_back(url);
        return openUrlAnswer;
    }

private:
    // Kept as plain strings: GCC 12 warns falsely of an uninitialised optional string when one
    // is moved out of a container at -O2.
    std::optional<QString> nextPanelAnswer() {
        QString answer;
        if (!panelAnswers.empty()) {
            answer = panelAnswers.front();
            panelAnswers.pop_front();
        }
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
    template <typename T> static T next(std::deque<T>& answers, T fallback) {
        if (!answers.empty()) {
            fallback = std::move(answers.front());
            answers.pop_front();
        }
        return fallback;
    }
};

// Installs a scripted prompter for the life of a test.
class ScopedScriptedPrompter {
public:
    ScopedScriptedPrompter() { setUiPrompter(&prompter); }
    ~ScopedScriptedPrompter() { setUiPrompter(nullptr); }
    ScriptedUiPrompter prompter;
};

} // namespace koru::test
