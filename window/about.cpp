#include "window/about.h"

#include "ui_about.h"

#include <QPainter>
#include <QPainterPath>

TfrmAbout::TfrmAbout(QWidget *parent) : QDialog(parent), ui(new Ui::TfrmAbout)
{
    ui->setupUi(this);
    // Fixed single border with only the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(265, 161);
    // Height -13 is a pixel height; a point size would grow with the screen's resolution.
    QFont versionFont = ui->lblVersion->font();
    versionFont.setPixelSize(13);
    versionFont.setBold(true);
    ui->lblVersion->setFont(versionFont);
    ui->imgQuelvard->setPixmap(Logo());
    connect(ui->cbClose, &QPushButton::clicked, this, &QDialog::reject);
}

TfrmAbout::~TfrmAbout()
{
    delete ui;
}

QPixmap TfrmAbout::Logo()
{
    QPixmap logo(QStringLiteral(":/logo.svg"));
    if (!logo.isNull())
        return logo.scaled(249, 73, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    // Without the SVG image plugin the same picture is drawn here: a globe with a padlock and
    // the name beside it.
    logo = QPixmap(249, 73);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
    painter.drawEllipse(QPointF(36, 36), 30, 30);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 3));
    painter.drawEllipse(QPointF(36, 36), 13, 30);
    painter.drawLine(QPointF(6, 36), QPointF(66, 36));
    painter.setPen(QPen(QColor(0x7a, 0x52, 0x00), 3));
    QPainterPath shackle;
    shackle.moveTo(47, 40);
    shackle.lineTo(47, 35);
    shackle.arcTo(QRectF(47, 29, 12, 12), 180, -180);
    shackle.lineTo(59, 40);
    painter.drawPath(shackle);
    painter.setPen(QPen(QColor(0x7a, 0x52, 0x00), 2));
    painter.setBrush(QColor(0xf2, 0xb6, 0x32));
    painter.drawRoundedRect(QRectF(42, 40, 22, 20), 3, 3);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor(0x1f, 0x3f, 0x6a));
    painter.drawText(QPointF(78, 46), QStringLiteral("Quelvard"));
    return logo;
}
