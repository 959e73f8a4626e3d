#include "app/TopStrip.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QPainter>

#include "app/ClickLabel.h"
#include "app/Icons.h"
#include "platform/DropDownList.h"

namespace zor::app {
namespace {

QPixmap stripBackground() {
    QPixmap pm(704, TopStrip::Height);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, TopStrip::Height);
    g.setColorAt(0, QColor(250, 250, 252));
    g.setColorAt(0.55, QColor(228, 232, 240));
    g.setColorAt(1, QColor(196, 204, 218));
    p.fillRect(pm.rect(), g);
    p.setPen(QColor(160, 168, 182));
    p.drawLine(0, TopStrip::Height - 1, 704, TopStrip::Height - 1);
    return pm;
}

}  // namespace

TopStrip::TopStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Panel2"));
    setFixedHeight(Height);

    // The background picture lies under everything else of the strip and is clickable itself.
    auto* background = new ClickLabel(QString(), ClickLabel::Hover::None, this);
    background->setObjectName(QStringLiteral("Image97"));
    background->setPixmap(stripBackground());
    background->setScaledContents(true);
    background->setGeometry(0, 0, 704, Height);
    background->setCursor(Qt::ArrowCursor);
    background->setFocusPolicy(Qt::NoFocus);  // the header is the same command within Tab's reach

    auto icon = [](const char* name, Icon kind, const QString& hint) {
        auto* l = new ClickLabel(QString());
        l->setObjectName(QLatin1String(name));
        l->setPixmap(drawIcon(kind));
        l->setToolTip(hint);
        l->setFixedSize(16, 16);
        return l;
    };
    auto* designIcon = icon("Image99", Icon::Design, QStringLiteral("Управление дизайном"));
    auto* pagesIcon = icon("Image100", Icon::Pages,
                           QStringLiteral("Управление страницами, создание карты сайта"));
    auto* uploadIcon = icon("Image101", Icon::Upload, QStringLiteral("Загрузка сайта на сервер"));
    uploadIcon->setClickWaitsForDoubleClick(true);  // its double click uploads
    auto* filesIcon = icon("Image102", Icon::FileManager, QStringLiteral("Файловый менеджер"));

    sitesbox = new DropDownList;  // a wheel notch over it does not switch the site
    sitesbox->setObjectName(QStringLiteral("sitesbox"));
    sitesbox->setPlaceholderText(QStringLiteral("Выберите сайт"));
    sitesbox->setMinimumWidth(190);
    sitesbox->setAccessibleName(QStringLiteral("Сайт"));
    sitesbox->setToolTip(
        QStringLiteral("Сайт; правая кнопка мыши \u2014 создать, переименовать, "
                       "удалить или скопировать"));

    auto* headerLabel = new ClickLabel(QStringLiteral("Главное меню"));
    header = headerLabel;
    header->setObjectName(QStringLiteral("header"));
    QFont hf(QStringLiteral("Arial"));
    hf.setPixelSize(23);
    hf.setItalic(true);
    header->setFont(hf);
    header->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    header->setStyleSheet(QStringLiteral("color: rgb(105, 105, 105);"));  // 3-D dark shadow
    header->setAccessibleDescription(QStringLiteral("Вернуться в главное меню"));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 10, 0);
    row->setSpacing(8);
    for (QWidget* w : {static_cast<QWidget*>(designIcon), static_cast<QWidget*>(pagesIcon),
                       static_cast<QWidget*>(uploadIcon), static_cast<QWidget*>(filesIcon)}) {
        row->addWidget(w);
    }
    row->addSpacing(6);
    row->addWidget(sitesbox);
    row->addStretch();
    row->addWidget(header);

    connect(background, &ClickLabel::clicked, this, &TopStrip::menuWanted);
    connect(headerLabel, &ClickLabel::clicked, this, &TopStrip::menuWanted);
    connect(designIcon, &ClickLabel::clicked, this, &TopStrip::designWanted);
    connect(pagesIcon, &ClickLabel::clicked, this, &TopStrip::pagesWanted);
    connect(uploadIcon, &ClickLabel::clicked, this, &TopStrip::uploadWanted);
    connect(uploadIcon, &ClickLabel::doubleClicked, this, &TopStrip::uploadDoubleClicked);
    connect(filesIcon, &ClickLabel::clicked, this, &TopStrip::fileManagerWanted);
}

}  // namespace zor::app
