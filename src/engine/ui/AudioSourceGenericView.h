#pragma once

#include <QWidget>

#include <cstdint>
#include <vector>

class QLabel;
class QSlider;

namespace koru {

class AudioSource;

// The view a window shows for a source that brings no view of its own: one slider per
// parameter, spanning the parameter's range, with its name and value beside it. Moving a slider
// sets the parameter at once; refresh() reads every value back. Main thread only.
class AudioSourceGenericView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSliderSteps = 1000;

    explicit AudioSourceGenericView(AudioSource& source, QWidget* parent = nullptr);

    void refresh();
    int rowCount() const { return int(mRows.size()); }
    QSlider* sliderAt(int row) const { return mRows.at(std::size_t(row)).slider; }
    QLabel* valueLabelAt(int row) const { return mRows.at(std::size_t(row)).value; }

private:
    struct Row {
        std::uint32_t id = 0;
        float minimum = 0.0f;
        float maximum = 1.0f;
        QSlider* slider = nullptr;
        QLabel* value = nullptr;
    };
    void showValue(const Row& row, float value);
    float valueAt(const Row& row, int position) const;
    int positionOf(const Row& row, float value) const;

    AudioSource& mSource;
    std::vector<Row> mRows;
};

} // namespace koru
