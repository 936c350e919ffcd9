#include "AboutDialog.h"

#include "DialogUnits.h"
#include "LoaderTexts.h"
#include "QtMessageBoxes.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace loader {

AboutDialog::AboutDialog(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(texts::kProgramName));
    setFont(layout::DialogFont(QString::fromUtf8("굴림"), 9));
    const layout::DialogUnits du(font());
    setFixedSize(du.Size(235, 55));

    auto* picture = new QLabel(this);
    picture->setPixmap(icon.pixmap(32, 32));
    picture->setGeometry(du.X(11), du.Y(17), 32, 32);

    auto* text = new QLabel(appsupport::MessageText(texts::kAboutText), this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setGeometry(du.Rect(39, 7, 134, 18));

    auto* ok = new QPushButton(QString::fromUtf8("확인"), this);
    ok->setGeometry(du.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace loader
