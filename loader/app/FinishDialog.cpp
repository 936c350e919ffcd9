#include "FinishDialog.h"

#include "DialogUnits.h"
#include "LoaderTexts.h"
#include "QtMessageBoxes.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace loader {

FinishDialog::FinishDialog(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(texts::kProgramName));
    // "System" is the classic toolkit's own face; where it is missing the
    // dialog font's Korean-capable fallback keeps the proportions close.
    setFont(layout::DialogFont(QStringLiteral("System"), 10));
    const layout::DialogUnits du(font());
    setFixedSize(du.Size(161, 79));

    auto* picture = new QLabel(this);
    const QRect iconRect = du.Rect(7, 4, 20, 20);
    picture->setPixmap(icon.pixmap(iconRect.size()));
    picture->setGeometry(iconRect);

    auto* text = new QLabel(appsupport::MessageText(texts::kFinishText), this);
    text->setObjectName(QStringLiteral("finishText"));
    text->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    text->setGeometry(du.Rect(30, 4, 124, 53));

    auto* continueButton = new QPushButton(QStringLiteral("Continue"), this);
    continueButton->setObjectName(QStringLiteral("continue"));
    continueButton->setGeometry(du.Rect(26, 59, 50, 14));
    continueButton->setAutoDefault(false);
    connect(continueButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* finishButton = new QPushButton(QStringLiteral("Finish"), this);
    finishButton->setObjectName(QStringLiteral("finish"));
    finishButton->setGeometry(du.Rect(86, 59, 50, 14));
    finishButton->setDefault(true);
    connect(finishButton, &QPushButton::clicked, this, &QDialog::accept);
    finishButton->setFocus();
}

} // namespace loader
