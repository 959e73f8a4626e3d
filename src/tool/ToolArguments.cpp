#include "tool/ToolArguments.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include "publish/AccountSettings.h"

namespace zor::tool {
namespace {

struct Command {
    const char* name;
    const char* about;
    const char* options;  // the command's own options, besides --help and --json
    bool talksToServer;   // then it takes the account options too
};

// Host, user name, remote folder and port in place of the remembered ones.
const char* const AccountOptions = "host user folder port protocol tls trust-fingerprint";

const Command Commands[] = {
    {"compile", "Собрать etc/desing/theme.html в index.php, как кнопка \u00ABСохранить\u00BB.", "",
     false},
    {"sitemap", "Записать sitemap.xml со всеми страницами сайта.", "address", false},
    {"status",
     "Показать, что отправила бы \u00ABЗакачать изменённые файлы\u00BB, не соединяясь с "
     "сервером.",
     "", false},
    {"upload", "Закачать изменённые файлы (с --all \u2014 все файлы) на сервер.",
     "all dry-run address no-check no-archive delete-removed retries", true},
    {"sync", "Синхронизироваться: забрать с сервера страницы и их заголовки.",
     "replace-changed retries", true},
    {"ls", "Показать папку на сервере: сначала папки, потом файлы.", "", true},
    {"account",
     "Запомнить учётную запись FTP, как \u00ABЗапомнить данные\u00BB (пароль из "
     "ZOROD_FTP_PASSWORD или с терминала \u2014 в связку ключей, где она есть).",
     "host user folder port protocol", false},
};

struct Option {
    const char* name;
    const char* valueName;  // null for a switch
    const char* about;
    const char* aboutAccount = nullptr;  // for the account command, when it reads otherwise
};

const Option Options[] = {
    {"json", nullptr, "Итог одной строкой JSON на стандартный вывод."},
    {"address", "URL", "Адрес сайта; без него \u2014 адрес из настроек сайта."},
    {"no-check", nullptr,
     "Не проверять сайт после загрузки (иначе он проверяется, если его адрес известен и "
     "проверка не выключена на экране загрузки)."},
    {"no-archive", nullptr,
     "Не загружать одним архивом: каждый файл отдельно (иначе много файлов уходят одним "
     "архивом, если адрес сайта известен и это не выключено на экране загрузки)."},
    {"all", nullptr, "Закачать все файлы, как \u00ABЗакачать все файлы\u00BB."},
    {"delete-removed", nullptr,
     "Удалить с сервера файлы, которые программа закачала, а из папки сайта они с тех пор "
     "удалены (без этого параметра они только перечисляются)."},
    {"dry-run", nullptr,
     "Войти, просмотреть папку и показать, что было бы отправлено, ничего не отправляя и не "
     "записывая."},
    {"replace-changed", nullptr,
     "Заменить и страницы, изменённые после последней загрузки (без этого параметра "
     "синхронизация их не трогает и ничего не меняет); прежние версии сохраняются в "
     "etc/backup."},
    {"host", "HOST", "Хост вместо сохранённого.", "Хост FTP-сервера."},
    {"user", "USER", "Имя пользователя вместо сохранённого.", "Имя пользователя."},
    {"folder", "FOLDER", "Папка на сервере (\u00ABКуда закачивать\u00BB) вместо сохранённой.",
     "Папка на сервере (\u00ABКуда закачивать\u00BB)."},
    {"port", "PORT", "Порт сервера (по умолчанию 21 для FTP, 22 для SFTP)."},
    {"protocol", "PROTOCOL",
     "Протокол: ftp или sftp (по SSH). Без него \u2014 как выбрано для сайта (\u00ABsftp://\u00BB "
     "перед хостом тоже выбирает SFTP)."},
    {"retries", "N",
     "Сколько раз повторять передачу файла, прерванную сбоем связи (по умолчанию 3; 0 \u2014 не "
     "повторять)."},
    {"tls", "MODE",
     "Шифрование: auto \u2014 защищённое соединение, если сервер умеет; require \u2014 только "
     "защищённое; off \u2014 без шифрования. Без него \u2014 как выбрано для сайта."},
    {"trust-fingerprint", "SHA256",
     "Доверять сертификату сервера с этим отпечатком SHA-256, хотя система его не "
     "подтверждает, или неизвестному ключу SSH-сервера с этим отпечатком (SHA256:\u2026, как "
     "его печатает ssh-keygen -l)."},
};

const Command* findCommand(const QString& name) {
    for (const Command& c : Commands) {
        if (name == QLatin1String(c.name)) {
            return &c;
        }
    }
    return nullptr;
}

QString programName(const QStringList& arguments) {
    return QFileInfo(arguments.value(0, QStringLiteral("zorod-publish"))).fileName();
}

QString generalHelp(const QString& program) {
    QString text = QStringLiteral(
                       "Использование: %1 КОМАНДА ПАПКА_САЙТА [параметры]\n\n"
                       "Работа с сайтом ZOR OD без окна программы: для сценариев и заданий по "
                       "расписанию.\nУчётная запись FTP берётся из настроек сайта (\u00ABЗапомнить "
                       "данные\u00BB); пароль \u2014 из переменной окружения ZOROD_FTP_PASSWORD, "
                       "иначе из связки ключей, иначе из настроек.\n\nКоманды:\n")
                       .arg(program);
    for (const Command& c : Commands) {
        text += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(c.name).leftJustified(10), QString::fromUtf8(c.about));
    }
    text += QStringLiteral(
                "\nПараметры каждой команды: %1 КОМАНДА --help\n"
                "Версия программы: %1 --version\n"
                "Код выхода: 0 \u2014 готово, 1 \u2014 ошибка, 2 \u2014 неверная командная "
                "строка, 3 \u2014 файлы закачаны, но сайт не прошёл проверку, 130 \u2014 прервано "
                "(Ctrl+C), 143 \u2014 остановлено (kill).\n")
                .arg(program);
    return text;
}

// `helpFor` is the program's name, and the command's when there is one.
ParsedArguments usageError(const QString& helpFor, const QString& text) {
    ParsedArguments p;
    p.exitCode = ExitUsage;
    p.err = QStringLiteral("%1: %2\nСправка: %3 --help\n")
                .arg(helpFor.section(u' ', 0, 0), text, helpFor);
    return p;
}

}  // namespace

ParsedArguments parseArguments(const QStringList& arguments) {
    const QString program = programName(arguments);
    const QString first = arguments.value(1);
    ParsedArguments p;
    if (first == u"--help" || first == u"-h") {
        p.out = generalHelp(program);
        return p;
    }
    if (first == u"--version" || first == u"-v") {
        p.out = QStringLiteral("%1 %2\n").arg(program, QCoreApplication::applicationVersion());
        return p;
    }
    if (first.isEmpty()) {
        return usageError(program, QStringLiteral("не указана команда."));
    }
    const Command* command = findCommand(first);
    if (!command && first.startsWith(u'-')) {
        return usageError(program, QStringLiteral("первым должно идти имя команды, а не "
                                                  "\u00AB%1\u00BB.")
                                       .arg(first));
    }
    if (!command) {
        return usageError(program,
                          QStringLiteral("неизвестная команда \u00AB%1\u00BB.").arg(first));
    }
    const QString name = QLatin1String(command->name);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(command->about));
    parser.addPositionalArgument(name, QStringLiteral("Команда."), name);
    parser.addPositionalArgument(
        QStringLiteral("SITE"),
        QStringLiteral("Папка сайта; её имя \u2014 имя сайта в настройках."));
    if (name == u"ls") {
        parser.addPositionalArgument(
            QStringLiteral("REMOTE_FOLDER"),
            QStringLiteral("Папка на сервере; без неё \u2014 папка из настроек сайта."),
            QStringLiteral("[REMOTE_FOLDER]"));
    }
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Показать эту справку.")));
    // Each command accepts its own options only; asking about one it lacks would be a warning.
    QString own = QStringLiteral("help json ") + QLatin1String(command->options);
    if (command->talksToServer) {
        own += u' ' + QLatin1String(AccountOptions);
    }
    const QStringList accepted = own.split(u' ', Qt::SkipEmptyParts);
    for (const Option& o : Options) {
        const QString optionName = QLatin1String(o.name);
        if (accepted.contains(optionName)) {
            const char* about = name == u"account" && o.aboutAccount ? o.aboutAccount : o.about;
            parser.addOption(
                QCommandLineOption(optionName, QString::fromUtf8(about),
                                   o.valueName ? QLatin1String(o.valueName) : QString()));
        }
    }
    const auto isSet = [&](const char* option) {
        return accepted.contains(QLatin1String(option)) && parser.isSet(QLatin1String(option));
    };

    const QString helpFor = program + u' ' + name;
    if (!parser.parse(arguments)) {
        return usageError(helpFor, parser.errorText());
    }
    if (isSet("help")) {
        // The parser names the program as it was started, with its whole path.
        p.out = parser.helpText().replace(arguments.value(0), program);
        return p;
    }
    const QStringList positional = parser.positionalArguments();  // the command first
    const qsizetype most = name == u"ls" ? 3 : 2;
    if (positional.size() < 2 || positional[1].isEmpty()) {
        return usageError(helpFor, QStringLiteral("не указана папка сайта."));
    }
    if (positional.size() > most) {
        return usageError(helpFor,
                          QStringLiteral("лишний аргумент \u00AB%1\u00BB.").arg(positional[most]));
    }

    ToolRequest r;
    r.command = name;
    r.site = positional[1];
    if (positional.size() > 2) {
        r.remoteFolder = positional[2];
    }
    const auto given = [&](const char* option) -> std::optional<QString> {
        return isSet(option) ? std::optional<QString>(parser.value(QLatin1String(option)))
                             : std::nullopt;
    };
    r.address = given("address");
    r.host = given("host");
    r.user = given("user");
    r.folder = given("folder");
    if (const auto text = given("port")) {
        bool ok = false;
        const int value = text->toInt(&ok);
        if (!ok || value < 1 || value > 65535) {
            return usageError(helpFor, QStringLiteral("порт должен быть числом от 1 до 65535, "
                                                      "а не \u00AB%1\u00BB.")
                                           .arg(*text));
        }
        r.port = value;
    }
    if (const auto text = given("retries")) {
        bool ok = false;
        const int value = text->toInt(&ok);
        if (!ok || value < 0 || value > 100) {
            return usageError(helpFor, QStringLiteral("--retries: число от 0 до 100, а не "
                                                      "\u00AB%1\u00BB.")
                                           .arg(*text));
        }
        r.retries = value;
    }
    if (const auto text = given("tls")) {
        const QString mode = text->trimmed().toLower();
        if (mode != u"auto" && mode != u"require" && mode != u"off") {
            return usageError(helpFor, QStringLiteral("--tls: auto, require или off, а не "
                                                      "\u00AB%1\u00BB.")
                                           .arg(*text));
        }
        r.encryption = publish::encryptionFromValue(mode);
    }
    if (const auto text = given("trust-fingerprint")) {
        const QString hex = QString(*text).remove(u':').trimmed();
        const bool valid = hex.size() == 64 &&
                           QByteArray::fromHex(hex.toLatin1()).toHex() == hex.toLatin1().toLower();
        const QString sshKey = text->trimmed();
        // A host key's, as ssh-keygen -l prints it: "SHA256:" and 43 characters of base64.
        const bool validKey = sshKey.startsWith(QStringLiteral("SHA256:")) && sshKey.size() == 50 &&
                              QByteArray::fromBase64(sshKey.mid(7).toLatin1() + '=',
                                                     QByteArray::AbortOnBase64DecodingErrors)
                                      .size() == 32;
        if (!valid && !validKey) {
            return usageError(helpFor, QStringLiteral("--trust-fingerprint: нужен отпечаток "
                                                      "SHA-256 (32 байта в шестнадцатеричном "
                                                      "виде или SHA256:\u2026), а не "
                                                      "\u00AB%1\u00BB.")
                                           .arg(*text));
        }
        r.trustFingerprint =
            validKey
                ? sshKey
                : QString::fromLatin1(QByteArray::fromHex(hex.toLatin1()).toHex(':')).toUpper();
    }
    if (const auto text = given("protocol")) {
        const QString protocol = text->trimmed().toLower();
        if (protocol != u"ftp" && protocol != u"sftp") {
            return usageError(helpFor, QStringLiteral("--protocol: ftp или sftp, а не "
                                                      "\u00AB%1\u00BB.")
                                           .arg(*text));
        }
        r.protocol = protocol;
    }
    if (name == u"account" &&
        (!r.host || r.host->trimmed().isEmpty() || !r.user || r.user->isEmpty() || !r.folder)) {
        return usageError(helpFor, QStringLiteral("нужны --host, --user и --folder."));
    }
    r.all = isSet("all");
    r.dryRun = isSet("dry-run");
    r.replaceChanged = isSet("replace-changed");
    r.noCheck = isSet("no-check");
    r.noArchive = isSet("no-archive");
    r.deleteRemoved = isSet("delete-removed");
    r.json = isSet("json");
    p.request = r;
    return p;
}

}  // namespace zor::tool
