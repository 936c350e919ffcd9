#include "AboutDialog.h"

#include "DialogUnits.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace capture {

const char* const AboutDialog::kCaption = "Quorvex 정보";
const char* const AboutDialog::kVersionLine = "Quorvex 버전 1.0";
const char* const AboutDialog::kInformationLine = "자동차 스코프 화면 캡처 프로그램";

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    const QFont font = layout::DialogFont(QStringLiteral("굴림"), 9);
    setFont(font);
    const layout::DialogUnits du(font);
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(du.Size(235, 55));
    setWindowIcon(QIcon(QStringLiteral(":/quorvex/icon-32.png")));

    auto* icon = new QLabel(this);
    icon->setGeometry(du.Rect(11, 17, 20, 20));
    const QRect iconBox = du.Rect(11, 17, 20, 20);
    const int side = std::min(iconBox.width(), iconBox.height()) >= 32 ? 32 : 16;
    icon->setPixmap(QIcon(QStringLiteral(":/quorvex/icon-32.png")).pixmap(side, side));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* version = new QLabel(QString::fromUtf8(kVersionLine), this);
    version->setTextFormat(Qt::PlainText);
    version->setObjectName(QStringLiteral("versionLine"));
    version->setGeometry(du.Rect(40, 10, 119, 8));

    auto* information = new QLabel(QString::fromUtf8(kInformationLine), this);
    information->setObjectName(QStringLiteral("informationLine"));
    information->setGeometry(du.Rect(40, 25, 119, 8));

    auto* ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setObjectName(QStringLiteral("button1"));
    ok->setGeometry(du.Rect(178, 7, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace capture
