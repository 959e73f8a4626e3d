#include "app/StaticScreens.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/ClickLabel.h"
#include "app/Icons.h"
#include "app/ScreenMargins.h"
#include "site/SiteCatalogue.h"

namespace zor::app {
namespace {

QFont arial(int px, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

QLabel* text(const QString& html) {
    auto* l = new QLabel(html);
    l->setFont(arial(13));
    l->setWordWrap(true);
    l->setTextFormat(Qt::RichText);
    l->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    l->setStyleSheet(QStringLiteral("color: black;"));
    return l;
}

struct HelpContent {
    const char* objectName;
    QString lead;
    QString body;
};

HelpContent content(HelpTopic topic) {
    switch (topic) {
        case HelpTopic::Themes:
            return {
                "HelpThemesScreen",
                QStringLiteral("Решили изменить стандартную тему? Сначала прочтите этот текст."),
                QStringLiteral(
                    "<p>Тема сайта \u2014 это обычный HTML-шаблон. В нём стоят псевдокоды "
                    "{{title}}, {{content}} и {{bloc=(имя блока)}}. При сохранении шаблона они "
                    "заменяются PHP-скриптами, которые выводят заголовок страницы, содержимое "
                    "страницы и содержимое блока.</p>"
                    "<p>Псевдокод может стоять в любом месте строки, с любым текстом до и после "
                    "него, но в одной строке может быть только один псевдокод. Например:<br>"
                    "<tt>&nbsp;&nbsp;&nbsp;&nbsp;{{content}}&nbsp;&nbsp;- правильно</tt><br>"
                    "<tt>{{content}}&lt;/div&gt;&lt;br /&gt;&nbsp;&nbsp;- правильно</tt></p>"
                    "<p>Тема хранится в папке etc/desing. Не создавайте своих папок: элементы "
                    "темы кладите в etc/desing, звуки \u2014 в mf/music, картинки \u2014 в "
                    "mf/img, страницы лежат в mf/pages, всё остальное \u2014 в mf/other.</p>"
                    "<p><b>Важно! Блоки можно называть только латинскими буквами!</b></p>")};
        case HelpTopic::Pages:
            return {
                "HelpPagesScreen",
                QStringLiteral("Решили приступить к изменению содержимого сайта? Сначала "
                               "прочтите этот текст."),
                QStringLiteral(
                    "<p>Страницы редактируются во встроенном визуальном редакторе. Он удобен, "
                    "но мы советуем знать хотя бы основы HTML: исходный текст страницы всегда "
                    "виден в редакторе, и его можно править напрямую.</p>"
                    "<p>Чтобы изменить страницу, выберите её заголовок в выпадающем списке на "
                    "экране \u00ABУправление страницами\u00BB. Чтобы создать страницу, выберите "
                    "в списке многоточие \u00AB...\u00BB.</p>"
                    "<p>Чтобы воспользоваться расширением, создайте новую страницу и выберите "
                    "расширение в выпадающем списке редактора.</p>"
                    "<p><i>Обратите внимание, что при загрузке расширения всё содержимое "
                    "страницы удаляется!</i></p>")};
        case HelpTopic::Upload:
            return {"HelpUploadScreen",
                    QStringLiteral("Вы создали сайт и хотете разместить егов сети? Сначала "
                                   "прочтите этот текст."),
                    QStringLiteral(
                        "<p>Для загрузки сайта на сервер есть встроенный FTP-клиент. Если Вы не "
                        "знаете, совпадает ли корневая папка FTP с корнем сайта, введите данные "
                        "сервера и посмотрите список папок на сервере.</p>"
                        "<p>Пароль хранится в зашифрованном виде и никуда, кроме Вашего сервера, "
                        "не отправляется.</p>"
                        "<p>Ваши собственные папки на сервер не загружаются. Папку на сервере "
                        "можно создать специальной кнопкой на экране загрузки.</p>")};
        case HelpTopic::Extensions:
            return {"HelpExtensionsScreen",
                    QStringLiteral("Решили написать для нас расширение? Сначала прочтите этот "
                                   "текст."),
                    QStringLiteral(
                        "<p>1) Первая строка файла \u2014 комментарий с названием расширения, "
                        "например: <tt>&lt;?php //Комментарии ?&gt;</tt></p>"
                        "<p>2) Расширение может использовать дополнительные параметры страницы, "
                        "например index.php?in=1&amp;&amp;sin=true, и свои файлы.</p>"
                        "<p>3) Расширения размешаются в папке extentions</p>"
                        "<p>4) Написали полезное расширение? Пришлите его нам \u2014 мы добавим "
                        "его в каталог.</p>")};
        case HelpTopic::Develop:
            return {"HelpDevelopScreen",
                    QStringLiteral("Вы программист и Вас заинтересовал наш проект? Хотете стать "
                                   "разработчиком? Сначала прочтите этот текст."),
                    QStringLiteral(
                        "<p>Мы приглашаем программистов присоединиться к разработке. Исходные "
                        "тексты программы не публикуются; напишите нам по электронной почте, и мы "
                        "расскажем, как устроена программа и чем Вы можете помочь.</p>")};
        case HelpTopic::FileManager:
            return {"HelpFileManagerScreen",
                    QStringLiteral("Решили добавить файл на сайт или получить ссылку на уже "
                                   "имеющийся? Сначала прочтите этот текст."),
                    QStringLiteral(
                        "<p>Чтобы добавить файл на сайт, выберите его, укажите его тип "
                        "(картинка, музыка, элемент дизайна или другое) и нажмите "
                        "\u00ABКопировать\u00BB: файл попадёт в нужную папку сайта, а Вы получите "
                        "ссылку на него.</p>"
                        "<p>Чтобы получить ссылку на файл, который уже есть на сайте, выберите тип "
                        "и щёлкните по имени файла.</p>")};
    }
    return {};
}

}  // namespace

HelpScreen makeHelpScreen(HelpTopic topic) {
    const HelpContent c = content(topic);
    HelpScreen s;
    s.page = new QWidget;
    s.page->setObjectName(QLatin1String(c.objectName));
    auto* layout = new QVBoxLayout(s.page);
    layout->setContentsMargins(ScreenMargins);
    // The lead-in is plain text on one line (the longest just fits the window); only "Назад"
    // is bold.
    auto* lead = text(c.lead);
    lead->setWordWrap(false);
    layout->addWidget(lead);
    layout->addWidget(text(c.body));
    if (topic == HelpTopic::Upload) {
        // One line with the icon after it, a paragraph's space below the text above.
        auto* line =
            text(QStringLiteral("Двойной щелчок по значку раздела сразу закачивает сайт "
                                "на сервер:"));
        line->setWordWrap(false);
        layout->addSpacing(6);
        auto* row = new QHBoxLayout;
        row->addWidget(line);
        s.uploadIcon = new ClickLabel(QString());
        s.uploadIcon->setObjectName(QStringLiteral("HelpUploadIcon"));
        s.uploadIcon->setPixmap(drawIcon(Icon::Upload));
        s.uploadIcon->setToolTip(QStringLiteral("Загрузка сайта на сервер"));
        s.uploadIcon->setClickWaitsForDoubleClick(true);  // its double click uploads
        row->addWidget(s.uploadIcon);
        row->addStretch();
        layout->addLayout(row);
    }
    layout->addStretch();
    s.back = new ClickLabel(QStringLiteral("Назад"));
    s.back->setObjectName(QLatin1String(c.objectName) + QStringLiteral("Back"));
    s.back->setFont(arial(17, true));
    layout->addWidget(s.back, 0, Qt::AlignLeft | Qt::AlignBottom);
    return s;
}

QWidget* makeWelcomeScreen() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("WelcomeScreen"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(ScreenMargins);
    layout->addWidget(text(QStringLiteral(
        "<h3>Что это?</h3>"
        "<p>ZOR OD \u2014 программа для создания и ведения небольших сайтов на PHP. Сайт "
        "собирается у Вас на компьютере, а на сервер отправляется уже готовая папка: серверу "
        "нужен только PHP.</p>"
        "<h3>Какие возможности?</h3>"
        "<p>- Визуальный редактор<br>- Создание и редактирование страниц<br>- FTP-клиент<br>"
        "- Форма связи<br>- SiteMap-генератор<br>- Файловый менеджер</p>"
        "<p>Так же доступны расширения:<br>- Форма голосования</p>"
        "<p>Чтобы встроить свой дизайн, поставьте в шаблон псевдокоды {{title}} и {{content}} "
        "там, где должны быть заголовок и содержимое страницы.</p>")));
    layout->addStretch();
    return page;
}

QWidget* makeDevelopersScreen(QList<ClickLabel*>& links) {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("DevelopersScreen"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(ScreenMargins);
    layout->addWidget(text(QStringLiteral(
        "<p>ZOR OD делает небольшая команда разработчиков. Спасибо всем, кто пользуется "
        "программой, присылает замечания и пишет расширения.</p><p>Связаться с нами:</p>")));
    for (const QString& address :
         {QStringLiteral("mailto:team@zorod.example.org"), site::ProductSite}) {
        const bool mail = address.startsWith(QStringLiteral("mailto:"));
        auto* link = new ClickLabel(mail ? address.mid(7) : address, ClickLabel::Hover::Link);
        link->setObjectName(mail ? QStringLiteral("MailLink") : QStringLiteral("SiteLink"));
        link->setBaseFont(arial(13));
        link->setStyleSheet(QStringLiteral("color: #1a4fa0;"));
        link->setProperty("address", address);
        links.append(link);
        layout->addWidget(link, 0, Qt::AlignLeft);
    }
    layout->addStretch();
    return page;
}

}  // namespace zor::app
