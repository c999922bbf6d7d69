#pragma once

#include <QWidget>

class QLabel;

// The small floating panel that shows a reading under the mouse or a short status: a main line
// and an optional second line. Main thread only. Changing its text never shows it; it hides
// while the program is inactive and comes back when the program is active again.
class KOInfoPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kFrameDefaultsKey = "WindowFrame.infopanel";

    static KOInfoPanel& sharedInfoPanel();

    explicit KOInfoPanel(QWidget* parent = nullptr);

    void setInfoText(const QString& text);
    void setInfoText(const QString& text, const QString& additional);

    QLabel* firstLine() const { return mFirstLine; }
    QLabel* secondLine() const { return mSecondLine; }

protected:
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void applicationStateChanged(Qt::ApplicationState state);
    void saveFrame();
    void restoreFrame();

    QLabel* mFirstLine = nullptr;
    QLabel* mSecondLine = nullptr;
    bool m_hiddenForDeactivation = false;
};
