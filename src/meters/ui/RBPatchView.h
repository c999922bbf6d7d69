#pragma once

#include <QPointF>
#include <QSize>
#include <QWidget>

#include <cstdint>

class RBPatchingProtocol;

// The recorder's patch grid: a row per file channel ("Channel 1" …, counted from the top), a
// column per device channel, a cross where a file channel takes its input. A click patches the
// cell under the pointer; a double click or another button fills the diagonal from there (the
// column wrapping to the first); the highlighted cell follows the pointer and the arrow keys,
// Return patches it and steps to the next row and column, Space patches it. Other keys are
// swallowed while the grid has focus, except Escape, which closes the menu holding the grid.
//
// Geometry is kept in the grid's own y-up terms (origin at the bottom left, as the hit tests
// count), and turned into widget coordinates only to draw and to read events.
class RBPatchView : public QWidget {
    Q_OBJECT
public:
    static constexpr double kCell = 12.0;
    static constexpr double kRowLabelWidth = 75.0;
    static constexpr double kColumnLabelHeight = 120.0;

    explicit RBPatchView(QWidget* parent = nullptr);

    // Stores the owner and sizes the view to the grid.
    void setDelegate(RBPatchingProtocol* delegate);
    RBPatchingProtocol* delegate() const { return mDelegate; }

    std::uint32_t numberOfRows() const;
    std::uint32_t numberOfColumns() const;
    QSize requiredSize() const;

    // Hit tests on y-up points. An edge point is limited to the last row or column.
    bool pointIsInPatchingRect(QPointF yUp) const;
    std::uint32_t channelIndexForPoint(QPointF yUp) const;
    std::int32_t channelNumberForPoint(QPointF yUp) const;
    double xOriginForChannelNumber(std::int32_t column) const;
    double yOriginForChannelIndex(std::uint32_t row) const;
    static QString destinationNameAtIndex(std::uint32_t index);

    std::uint32_t highlightedRow() const { return mChannelIndex; }
    std::int32_t highlightedColumn() const { return mChannelNumber; }

    // The y-up point of a widget position.
    QPointF yUpPoint(QPointF widget) const;
    // The widget position of the centre of a cell, for clicks.
    QPointF cellCentre(std::uint32_t row, std::int32_t column) const;

signals:
    void patchingChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void assign(std::uint32_t row, std::int32_t column);
    void fillDiagonal(std::uint32_t row, std::int32_t column);
    void wrapHighlight();

    RBPatchingProtocol* mDelegate = nullptr;
    std::uint32_t mChannelIndex = 0; // highlighted row
    std::int32_t mChannelNumber = 0; // highlighted column
};
