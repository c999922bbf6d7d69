#include "app/ui/LicenceAgreementDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace koru {

LicenceAgreementDialog::LicenceAgreementDialog(const QString& html, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("KORU Licence Agreement"));
    setWindowModality(Qt::ApplicationModal);
    resize(560, 520);

    auto* intro = new QLabel(tr("Please read the licence agreement. You can use KORU once you "
                                "agree to it."),
                             this);
    intro->setWordWrap(true);

    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("licenceText"));
    // Nothing in the agreement leaves the window: no link is followed, no file or page fetched.
    m_text->setOpenLinks(false);
    m_text->setOpenExternalLinks(false);
    m_text->setHtml(html);

    // Plain buttons rather than a button box, which would make "I Agree" the default as soon as
    // the window shows: Return must not agree on the user's behalf.
    m_disagree = new QPushButton(tr("I Do Not Agree"), this);
    m_agree = new QPushButton(tr("I Agree"), this);
    for (QPushButton* button : {m_agree, m_disagree})
        button->setAutoDefault(false);
    connect(m_agree, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_disagree, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_disagree);
    buttons->addWidget(m_agree);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(m_text, 1);
    layout->addLayout(buttons);
    m_text->setFocus();
}

} // namespace koru
