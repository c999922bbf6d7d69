#pragma once

#include <QDialog>

class QPushButton;
class QTextBrowser;

namespace koru {

// The licence agreement's window: the text and two buttons, application-modal. Accepted means
// the user agreed; any other way out (the other button, Escape, closing the window) declines.
class LicenceAgreementDialog : public QDialog {
    Q_OBJECT
public:
    explicit LicenceAgreementDialog(const QString& html, QWidget* parent = nullptr);

    QTextBrowser* textView() const { return m_text; }
    QPushButton* agreeButton() const { return m_agree; }
    QPushButton* disagreeButton() const { return m_disagree; }

private:
    QTextBrowser* m_text = nullptr;
    QPushButton* m_agree = nullptr;
    QPushButton* m_disagree = nullptr;
};

} // namespace koru
