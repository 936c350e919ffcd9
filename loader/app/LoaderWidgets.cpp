#include "LoaderWidgets.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

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

void LoaderWidgets::SetText(int control, const std::string& text) {
    if (QLabel* label = Find(m_texts, control))
        label->setText(QString::fromStdString(text));
}

void LoaderWidgets::EnableButton(int control, bool enabled) {
    if (QPushButton* button = Button(control))
        button->setEnabled(enabled);
}

void LoaderWidgets::SetBarRange(int control, int minimum, int maximum) {
    if (QProgressBar* bar = Bar(control))
        bar->setRange(minimum, maximum);
}

void LoaderWidgets::SetBarPosition(int control, int position) {
    if (QProgressBar* bar = Bar(control))
        bar->setValue(position);
}

} // namespace loader
