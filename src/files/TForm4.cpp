#include "files/TForm4.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include "files/MediaFiles.h"
#include "platform/CommandGuard.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Fonts.h"

namespace zor::files {
namespace {

// The small pictures beside the copy choices: a landscape, a note, a brush and a sheet.
QIcon categoryIcon(int category) {
    const qreal dpr = 2.0;
    QPixmap pm(QSize(16, 16) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 70), 1.0));
    switch (category) {
        case 0:
            p.setBrush(QColor(170, 210, 245));
            p.drawRect(QRectF(1.5, 2.5, 13, 11));
            p.setBrush(QColor(70, 150, 70));
            p.drawPolygon(QPolygonF({QPointF(2, 13), QPointF(6.5, 7), QPointF(10, 11),
                                     QPointF(11.5, 9.5), QPointF(14, 13)}));
            p.setBrush(QColor(250, 200, 40));
            p.drawEllipse(QRectF(10, 4, 3, 3));
            break;
        case 1:
            p.setBrush(QColor(60, 60, 70));
            p.drawEllipse(QRectF(2.5, 10.5, 4.5, 3.5));
            p.drawEllipse(QRectF(9, 9, 4.5, 3.5));
            p.setPen(QPen(QColor(60, 60, 70), 1.4));
            p.drawLine(QPointF(6.8, 12), QPointF(6.8, 3));
            p.drawLine(QPointF(13.3, 10.5), QPointF(13.3, 1.5));
            p.drawLine(QPointF(6.8, 3), QPointF(13.3, 1.5));
            break;
        case 2:
            p.setBrush(QColor(150, 100, 60));
            p.drawPolygon(
                QPolygonF({QPointF(9, 7), QPointF(14, 1.5), QPointF(15, 2.5), QPointF(10, 8.5)}));
            p.setBrush(QColor(200, 60, 160));
            p.drawEllipse(QRectF(2, 7.5, 8, 7));
            break;
        default:
            p.setBrush(Qt::white);
            p.drawPolygon(QPolygonF({QPointF(3, 1.5), QPointF(10, 1.5), QPointF(13, 4.5),
                                     QPointF(13, 14.5), QPointF(3, 14.5)}));
            p.drawPolyline(QPolygonF({QPointF(10, 1.5), QPointF(10, 4.5), QPointF(13, 4.5)}));
            break;
    }
    return QIcon(pm);
}

// Keeps its place in the layout when hidden, so the window does not jump.
template <typename W>
W* steady(W* widget) {
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    return widget;
}

}  // namespace

TForm4::TForm4(OpenSiteState& state, QWidget* parent) : QDialog(parent), state_(state) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Файл-менеджер"));
    setModal(true);
    setFixedSize(297, 337);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(226, 226, 226));
    setPalette(pal);
    setAutoFillBackground(true);

    SpeedButton1 = new QPushButton(QStringLiteral("Выбрать"));
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    button1 = new QPushButton(QStringLiteral("Копировать"));
    button1->setObjectName(QStringLiteral("button1"));
    button1->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(SpeedButton1);
    buttons->addStretch();
    buttons->addWidget(button1);

    const auto& categories = mediaCategories();
    copyGroup_ = new QButtonGroup(this);
    browseGroup_ = new QButtonGroup(this);
    auto* copyGrid = new QGridLayout;
    copyGrid->setVerticalSpacing(2);
    for (int i = 0; i < 4; ++i) {
        copyChoice[i] = new QRadioButton(categories[i].caption);
        copyChoice[i]->setObjectName(QStringLiteral("RadioButton%1").arg(i + 1));
        copyChoice[i]->setIcon(categoryIcon(i));
        copyGroup_->addButton(copyChoice[i], i);
        copyGrid->addWidget(copyChoice[i], i % 2, i / 2);  // two columns of two
        browseChoice[i] = new QRadioButton(categories[i].caption);
        browseChoice[i]->setObjectName(QStringLiteral("RadioButton%1").arg(i + 5));
        browseGroup_->addButton(browseChoice[i], i);
    }
    copyChoice[OtherCategory]->setChecked(true);
    browseChoice[OtherCategory]->setChecked(true);

    auto* chosenCaption = new QLabel(QStringLiteral("Вы выбрали файл:"));
    pyt = new QLabel;
    pyt->setObjectName(QStringLiteral("pyt"));
    pyt->setFont(arialFont(13));
    pyt->setWordWrap(true);
    pyt->setTextFormat(Qt::PlainText);
    pyt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pyt->setFixedHeight(3 * QFontMetrics(pyt->font()).lineSpacing());
    Label3 = steady(new QLabel(QStringLiteral("Ссылка на файл")));
    Label3->setObjectName(QStringLiteral("Label3"));
    Edit1 = steady(new QLineEdit);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Label3->setBuddy(Edit1);
    Label3->hide();
    Edit1->hide();
    linkNote = new QLabel(QStringLiteral(
        "Адрес сайта ещё не указан, поэтому ссылка дана от корня сайта. Полный адрес появится в "
        "ссылке, когда Вы укажете адрес сайта на экране \u00ABУправление страницами\u00BB."));
    linkNote->setObjectName(QStringLiteral("linkNote"));
    linkNote->setFont(arialFont(11));
    linkNote->setWordWrap(true);
    linkNote->hide();

    // The panel for browsing what is already in the site.
    auto* panel = new QFrame;
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Box);
    panel->setFrameShadow(QFrame::Sunken);
    auto* panelCaption = new QLabel(QStringLiteral("Обзор Ваших файлов"));
    panelCaption->setFont(arialFont(13, true));
    FileListBox2 = new QListWidget;
    FileListBox2->setObjectName(QStringLiteral("FileListBox2"));
    FileListBox2->setAccessibleName(panelCaption->text());  // a list reads no buddy
    missingNote = steady(new QLabel);
    missingNote->setObjectName(QStringLiteral("missingNote"));
    missingNote->setFont(arialFont(11));
    missingNote->setStyleSheet(QStringLiteral("color: rgb(130, 60, 60);"));
    missingNote->hide();
    SpeedButton3 = new QPushButton(QStringLiteral("Удалить"));
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    auto* listColumn = new QVBoxLayout;
    listColumn->setSpacing(2);
    listColumn->addWidget(FileListBox2, 1);
    listColumn->addWidget(missingNote);
    auto* choiceColumn = new QVBoxLayout;
    choiceColumn->setSpacing(2);
    for (QRadioButton* b : browseChoice) {
        choiceColumn->addWidget(b);
    }
    choiceColumn->addStretch();
    choiceColumn->addWidget(SpeedButton3);
    auto* browseRow = new QHBoxLayout;
    browseRow->addLayout(listColumn, 1);
    browseRow->addLayout(choiceColumn);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(6, 4, 6, 6);
    panelLayout->setSpacing(4);
    panelLayout->addWidget(panelCaption);
    panelLayout->addLayout(browseRow, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(3);
    layout->addLayout(buttons);
    layout->addSpacing(3);
    layout->addLayout(copyGrid);
    layout->addSpacing(3);
    layout->addWidget(chosenCaption);
    layout->addWidget(pyt);
    layout->addWidget(Label3);
    layout->addWidget(Edit1);
    layout->addWidget(linkNote);
    layout->addSpacing(3);
    layout->addWidget(panel, 1);
    // The window is as tall again as the note under a link without the site's address: the
    // browse panel takes that room while the note is hidden, and keeps its own when it shows.
    setFixedHeight(height() +
                   linkNote->heightForWidth(width() - layout->contentsMargins().left() -
                                            layout->contentsMargins().right()) +
                   layout->spacing());

    connectGuarded(SpeedButton1, &QPushButton::clicked, this, [this] { SpeedButton1Click(); });
    connectGuarded(button1, &QPushButton::clicked, this, [this] { button1Click(); });
    connectGuarded(SpeedButton3, &QPushButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(browseGroup_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            rereadList();
        }
    });
    // A click on a name, or Enter on it. Moving with the arrow keys only selects: the link
    // takes the focus, which would end the moving.
    connect(FileListBox2, &QListWidget::itemClicked, this, [this] { FileListBox2Click(); });
    connect(FileListBox2, &QListWidget::itemActivated, this, [this] { FileListBox2Click(); });
    rereadList();
}

const MediaCategory& TForm4::copyCategory() const {
    return mediaCategories()[static_cast<size_t>(std::max(copyGroup_->checkedId(), 0))];
}

const MediaCategory& TForm4::browseCategory() const {
    return mediaCategories()[static_cast<size_t>(std::max(browseGroup_->checkedId(), 0))];
}

int TForm4::showModal() {
    return exec();
}

int TForm4::showWithFile(const QString& shownPath, const QString& sourcePath) {
    setChosen(shownPath, sourcePath);
    return exec();
}

void TForm4::setChosen(const QString& shownPath, const QString& sourcePath) {
    pyt->setText(shownPath);
    pyt->setToolTip(shownPath);  // a long path may not fit its three lines
    source_ = sourcePath;
    button1->setEnabled(!shownPath.isEmpty());
}

void TForm4::showEvent(QShowEvent* event) {
    // Another site may have been opened since the last showing.
    rereadList();
    if (const QScreen* s = screen()) {
        move(s->availableGeometry().center() - frameGeometry().center() + pos());
    }
    QDialog::showEvent(event);
}

void TForm4::done(int result) {
    Label3->hide();
    Edit1->hide();
    linkNote->hide();
    setChosen(QString(), QString());
    QDialog::done(result);
}

void TForm4::rereadList() {
    FileListBox2->clear();
    const MediaCategory& category = browseCategory();
    // Without an open site there is no folder to show.
    const std::optional<QStringList> names =
        state_.siteName.isEmpty() ? std::nullopt
                                  : listMediaFolder(categoryFolder(state_.sitePath, category));
    if (names) {
        FileListBox2->addItems(*names);
        missingNote->hide();
    } else {
        missingNote->setText(QStringLiteral("Папки %1 в сайте пока нет").arg(category.folder));
        missingNote->show();
    }
}

void TForm4::showLink(const QString& link) {
    Edit1->setText(link);
    Label3->show();
    Edit1->show();
    linkNote->setVisible(!hasSiteAddress(addressText_ ? addressText_() : QString()));
    Edit1->setFocus();
    Edit1->selectAll();  // ready to be copied
}

void TForm4::SpeedButton1Click() {
    browseChoice[OtherCategory]->setChecked(true);
    rereadList();
    QFileDialog dialog(this, QStringLiteral("Выберите копируемый файл"));
    dialog.setObjectName(QStringLiteral("OpenDialog1"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The toolkit takes "*.*" literally and would hide every name without a dot, which the
    // copy refuses with its own message. The filter matches every file and keeps its familiar
    // caption in the dialog's own widgets, made here rather than when the dialog shows.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("Все файлы (*)"));
    if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        types->setItemText(0, QStringLiteral("Все файлы (*.*)"));
    }
    if (!rememberedPath_.isEmpty()) {
        dialog.selectFile(rememberedPath_);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        rememberedPath_ = dialog.selectedFiles().first();
        setChosen(rememberedPath_, rememberedPath_);
    } else {
        setChosen(QString(), QString());
    }
}

void TForm4::button1Click() {
    if (source_.isEmpty()) {
        return;
    }
    if (state_.siteName.isEmpty()) {
        throw FileError(QStringLiteral("Сначала откройте сайт: файлы копируются в открытый сайт."));
    }
    const QString address = addressText_ ? addressText_() : QString();
    const QString name = fileNameOf(pyt->text());
    // The next dialog opens where this file is (for a dropped file the path that really
    // exists, not the lower-cased one).
    rememberedPath_ = source_;
    const MediaCategory& category = copyCategory();

    // A big file shows its progress and can be cancelled; a small one is done before the
    // progress window would appear.
    QProgressDialog progress(QStringLiteral("Копирование \u00AB%1\u00BB\u2026").arg(name),
                             QStringLiteral("Отмена"), 0, 1000, this);
    progress.setWindowTitle(windowTitle());
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(400);
    progress.setAutoReset(false);
    progress.setValue(0);
    bool copied = false;
    try {
        copied = copyIntoSite(source_, state_.sitePath, category, name,
                              [&progress](qint64 done, qint64 total) {
                                  if (total > 0) {
                                      progress.setValue(static_cast<int>(done * 1000 / total));
                                  }
                                  return !progress.wasCanceled();
                              });
    } catch (...) {
        progress.cancel();
        rereadList();
        throw;
    }
    progress.cancel();
    rereadList();
    if (copied) {
        showLink(mediaLink(address, category, name));
    }
}

void TForm4::FileListBox2Click() {
    const QListWidgetItem* item = FileListBox2->currentItem();
    if (!item) {
        return;
    }
    const QString address = addressText_ ? addressText_() : QString();
    showLink(mediaLink(address, browseCategory(), item->text()));
}

void TForm4::SpeedButton3Click() {
    const QListWidgetItem* item = FileListBox2->currentItem();
    if (!item || !item->isSelected()) {
        return;
    }
    const QString name = item->text();
    if (!dialogs::ask(this, QStringLiteral("Удалить"),
                      QStringLiteral("Удалить файл \u00AB%1\u00BB?").arg(name))) {
        return;
    }
    Label3->hide();
    Edit1->hide();
    linkNote->hide();
    try {
        deleteMediaFile(state_.sitePath, browseCategory(), name);
    } catch (...) {
        rereadList();
        throw;
    }
    rereadList();
}

}  // namespace zor::files
