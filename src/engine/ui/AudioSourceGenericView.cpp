#include "engine/ui/AudioSourceGenericView.h"

#include "engine/AudioSource.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace koru {

AudioSourceGenericView::AudioSourceGenericView(AudioSource& source, QWidget* parent)
    : QWidget(parent), mSource(source) {
    auto* form = new QFormLayout(this);
    const std::vector<AudioSourceParameter> parameters = source.parameterList();
    if (parameters.empty()) {
        form->addRow(new QLabel(tr("No parameters"), this));
        return;
    }
    for (const AudioSourceParameter& parameter : parameters) {
        Row row;
        row.id = parameter.id;
        row.minimum = std::min(parameter.minimum, parameter.maximum);
        row.maximum = std::max(parameter.minimum, parameter.maximum);
        auto* line = new QHBoxLayout;
        row.slider = new QSlider(Qt::Horizontal, this);
        row.slider->setRange(0, kSliderSteps);
        row.slider->setMinimumWidth(200);
        row.value = new QLabel(this);
        row.value->setMinimumWidth(60);
        line->addWidget(row.slider);
        line->addWidget(row.value);
        form->addRow(QString::fromStdString(parameter.name), line);
        const std::size_t index = mRows.size();
        connect(row.slider, &QSlider::valueChanged, this, [this, index](int position) {
            const Row& changed = mRows[index];
            const float value = valueAt(changed, position);
            mSource.setParameter(changed.id, value);
            showValue(changed, mSource.parameter(changed.id));
        });
        mRows.push_back(row);
    }
    refresh();
}

void AudioSourceGenericView::refresh() {
    for (const Row& row : mRows) {
        const float value = mSource.parameter(row.id);
        const QSignalBlocker quiet(row.slider);
        row.slider->setValue(positionOf(row, value));
        showValue(row, value);
    }
}

void AudioSourceGenericView::showValue(const Row& row, float value) {
    row.value->setText(QString::fromStdString(fmt::format("{:.2f}", value)));
}

float AudioSourceGenericView::valueAt(const Row& row, int position) const {
    return row.minimum + (row.maximum - row.minimum) * float(position) / float(kSliderSteps);
}

int AudioSourceGenericView::positionOf(const Row& row, float value) const {
    const float span = row.maximum - row.minimum;
    if (!(span > 0.0f) || !std::isfinite(value)) {
        return 0;
    }
    const float fraction = std::clamp((value - row.minimum) / span, 0.0f, 1.0f);
    return int(std::lround(fraction * float(kSliderSteps)));
}

} // namespace koru
