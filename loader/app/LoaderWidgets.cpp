#include "LoaderWidgets.h"

#include "LoaderControls.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionProgressBar>

namespace loader {

namespace {
template <typename Widget> Widget* Find(const std::map<int, Widget*>& widgets, int control) {
    const auto found = widgets.find(control);
    return found != widgets.end() ? found->second : nullptr;
}
} // namespace

QPushButton* LoaderWidgets::Button(int control) const {
    return Find(m_buttons, control);
}

QProgressBar* LoaderWidgets::Bar(int control) const {
    return Find(m_bars, control);
}

std::vector<QWidget*> LoaderWidgets::Changing() const {
    std::vector<QWidget*> widgets;
    for (const auto& [control, label] : m_texts)
        if (control != controls::kFileName && control != controls::kFileSize)
            widgets.push_back(label);
    for (const auto& [control, bar] : m_bars)
        widgets.push_back(bar);
    return widgets;
}

void LoaderWidgets::SetText(int control, const std::string& text) {
    if (QLabel* label = Find(m_texts, control))
        label->setText(QString::fromStdString(text));
}

void LoaderWidgets::EnableButton(int control, bool enabled) {
    if (QPushButton* button = Button(control))
        button->setEnabled(enabled);
}

namespace {
// QProgressBar repaints at once, inside the step, when its value or range
// changes visibly. Here the change is made with updates held off, and the bar
// is only marked for the window's next paint, which then runs while the step's
// 1 ms wait does. Holding updates off and letting them on again marks the
// whole bar: taking the attribute back alone leaves the marking to us.
template <typename Change> void ChangeQuietly(QProgressBar* bar, Change change) {
    bar->setUpdatesEnabled(false);
    change();
    bar->setAttribute(Qt::WA_UpdatesDisabled, false);
}

// Qt's own rule for a repaint: a step to either end, or a change of at least
// one chunk's width of the groove since the value last painted.
bool VisibleChange(const QProgressBar* bar, int painted, int value) {
    if (value == painted)
        return false;
    if (value == bar->minimum() || value == bar->maximum())
        return true;
    QStyleOptionProgressBar option;
    option.initFrom(bar);
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.progress = value;
    const int chunk = bar->style()->pixelMetric(QStyle::PM_ProgressBarChunkWidth, &option, bar);
    const QRect groove = bar->style()->subElementRect(QStyle::SE_ProgressBarGroove, &option, bar);
    const qint64 steps = qint64(bar->maximum()) - bar->minimum();
    return qAbs(qint64(value) - painted) * groove.width() > chunk * steps;
}
} // namespace

void LoaderWidgets::SetBarRange(int control, int minimum, int maximum) {
    QProgressBar* bar = Bar(control);
    if (!bar || (bar->minimum() == minimum && bar->maximum() == maximum))
        return;
    ChangeQuietly(bar, [&] { bar->setRange(minimum, maximum); });
    m_paintedValues[bar] = bar->value();
    bar->update();
}

void LoaderWidgets::SetBarPosition(int control, int position) {
    QProgressBar* bar = Bar(control);
    if (!bar || bar->value() == position)
        return;
    ChangeQuietly(bar, [&] { bar->setValue(position); });
    const auto painted = m_paintedValues.find(bar);
    if (painted == m_paintedValues.end() || VisibleChange(bar, painted->second, bar->value())) {
        m_paintedValues[bar] = bar->value();
        bar->update();
    }
}

} // namespace loader
