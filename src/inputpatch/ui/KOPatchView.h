#pragma once

#include "engine/KOPatchMatrix.h"
#include "inputpatch/PatchGrid.h"
#include "inputpatch/ui/KODestinationAliasViewControllerDelegate.h"
#include "platform/notifications/NotificationCenter.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

class KODestinationAliasViewController;
class KOPatchViewDelegate;
class QPropertyAnimation;

// Shows a patch matrix as a square grid, destinations as rows and sources as columns, and edits
// it. A click on a cell patches it, or unpatches it when it was patched; a click with Shift (or
// Alt or Ctrl, which window managers often take for themselves) lays the whole wrapped diagonal
// through the cell. Arrow keys move the selection, Return patches and walks the diagonal, Space
// patches (not on auto-repeat); a selection moved past an end comes back at the other. Hovering
// a source label shows where that source goes; hovering a destination label slides a highlight
// to its source. A double click on a destination label opens the alias popover.
//
// The view takes its preferred size as its minimum, so in a scroll area a large matrix scrolls.
// Colours come from the palette: text WindowText, selected text HighlightedText, grid Mid,
// background and row stripes Base and AlternateBase, the selection the active Highlight (both
// selections valid) or the inactive one. Main thread only.
class KOPatchView : public QWidget, public KODestinationAliasViewControllerDelegate {
    Q_OBJECT
    Q_PROPERTY(double selectedSourceFloat READ selectedSourceFloat WRITE setSelectedSourceFloat)
public:
    static constexpr double kDefaultLabelWidth = 140.0;
    static constexpr double kDefaultMatrixHeight = 16.0;
    static constexpr double kLineWidth = 1.0;
    static constexpr double kMaximumFontSize = 10.0;
    static constexpr double kLabelMargin = 10.0;
    static constexpr double kMaximumIdealLabelWidth = 300.0;
    static constexpr double kCrossInset = 4.0;
    static constexpr double kCrossLineWidth = 4.0;
    static inline const QColor kCrossColour{85, 85, 85};

    explicit KOPatchView(QWidget* parent = nullptr);
    ~KOPatchView() override;

    // Not owned; without one the mouse patches nothing.
    void setDelegate(KOPatchViewDelegate* delegate) { mDelegate = delegate; }
    KOPatchViewDelegate* delegate() const { return mDelegate; }

    // Follows the matrix's change notification; resets the selection and closes the popover.
    void setPatchMatrix(std::shared_ptr<KOPatchMatrix> matrix);
    const std::shared_ptr<KOPatchMatrix>& patchMatrix() const { return mMatrix; }

    // The side of a cell; the label font follows it (min(10, h - 4)).
    void setMatrixHeight(double height);
    double matrixHeight() const { return mGrid.cellSide; }
    double fontSize() const { return mFontSize; }
    QFont labelFont() const { return mLabelFont; }
    // The width of the destination label column and the height of the source label strip.
    void setLabelWidth(double width);
    double labelWidth() const { return mGrid.labelWidth; }
    void setLineWidth(double width);
    double lineWidth() const { return mLineWidth; }
    // Unset, they follow the palette (Mid, Base).
    void setLineColor(const QColor& colour);
    QColor lineColor() const;
    void setBackgroundColor(const QColor& colour);
    QColor backgroundColor() const;

    // The label width that fits every destination label as drawn and every source name, within
    // 150 to 300.
    double idealLabelWidth() const;
    // The square in which the grid holds exactly N x N cells.
    QSize preferredSize() const;
    QSize sizeHint() const override { return preferredSize(); }

    QRectF destinationViewRect() const { return grid().destinationLabelArea(); }
    QRectF sourceViewRect() const { return grid().sourceLabelArea(); }
    QRectF patchViewRect() const { return grid().gridArea(); }
    QRectF cellRect(std::int32_t source, std::int32_t destination) const {
        return grid().cell(source, destination);
    }
    // Row and column under a point of the view; answers whether it lies in the grid area.
    bool eventInPatch(QPointF point, std::int32_t* destination, std::int32_t* source) const;
    // Answers whether the point lies among the destination labels.
    bool eventInDestinationGroup(QPointF point, std::int32_t* destination) const;

    // Patches the source to the destination, or unpatches the destination when it already has
    // that source. Indices outside the matrix raise its range exceptions.
    void patchSource(std::int32_t source, std::int32_t destination);
    // The whole map in one change: destination i takes source (offset + i) mod N. An offset
    // outside 0..N-1 raises InternalInconsistencyException.
    void doConsecutivePatchStartingAt(std::int64_t offset);

    std::int32_t selectedSource() const { return mSelectedSource; }
    std::int32_t selectedDestination() const { return mSelectedDestination; }
    void setSelection(std::int32_t source, std::int32_t destination);
    double selectedSourceFloat() const { return mSelectedSourceFloat; }
    void setSelectedSourceFloat(double column);
    // The highlight's slide; tests drive it by setting its current time.
    QPropertyAnimation* highlightAnimation() const { return mHighlightAnimation; }

    // The keyboard's edits, also for keys the window passes on. Answers whether the key is one
    // of the view's.
    bool keyDown(const QKeyEvent& event);

    // The alias popover: does nothing while one is shown.
    void showDestinationAliasWindowForDestination(std::uint32_t destination);
    // Null while no popover is shown.
    QWidget* aliasPopover() const { return mAliasPopover; }
    KODestinationAliasViewController* aliasInputViewController() const { return mAliasInput; }
    std::uint32_t aliasDestination() const { return mAliasDestination; }

    // KODestinationAliasViewControllerDelegate
    void didEnterAlias(const QString& alias) override;
    void enterAliasAndOpenNext(const QString& alias) override;
    void removeAliasWindow() override;

signals:
    // After a key moved the selection: the cell now selected, for a scroll area to show it.
    void selectionMoved(const QRect& cell);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    koru::PatchGrid grid() const;
    std::uint32_t channels() const { return mMatrix ? mMatrix->numChannels() : 0; }
    bool validSelections() const;
    void preferredSizeChanged();
    void slideHighlightTo(double column);
    void handleKey(const QKeyEvent& event);
    void draw(QPainter& painter, const koru::PatchGrid& grid);
    void drawSelection(QPainter& painter, const koru::PatchGrid& grid);
    void drawBend(QPainter& painter, const koru::PatchGrid& grid, double column, std::int32_t row,
                  const QColor& colour);
    void drawLabels(QPainter& painter, const koru::PatchGrid& grid);
    void drawLines(QPainter& painter, const koru::PatchGrid& grid);
    void drawCrosses(QPainter& painter, const koru::PatchGrid& grid);
    bool crossOnBend(std::int32_t source, std::int32_t destination) const;
    void positionPopover(std::uint32_t destination);

    KOPatchViewDelegate* mDelegate = nullptr;
    std::shared_ptr<KOPatchMatrix> mMatrix;
    koru::platform::ObserverToken mPatchObserver;
    koru::PatchGrid mGrid;
    double mFontSize = 0.0;
    QFont mLabelFont;
    double mLineWidth = kLineWidth;
    std::optional<QColor> mLineColour;
    std::optional<QColor> mBackgroundColour;
    std::int32_t mSelectedSource = -1;
    std::int32_t mSelectedDestination = -1;
    double mSelectedSourceFloat = 0.0;
    QPropertyAnimation* mHighlightAnimation = nullptr;
    KODestinationAliasViewController* mAliasInput = nullptr; // child; created on first use
    QPointer<QWidget> mAliasPopover;
    std::uint32_t mAliasDestination = 0;
};
