#include "design/TemplateCompiler.h"

#include "platform/Errors.h"
#include "platform/TextFile.h"
#include "site/PageIndex.h"
#include "site/SiteWorkspace.h"

namespace zor::design {
namespace {

struct FragmentLine {
    int indent;
    const char16_t* text;
};

// The fragments run on PHP 8 without errors or warnings: the type name for settype() is quoted
// (a bare word is an undefined constant, an error there), and the optional "in" and "sin" are
// read with isset(), so a missing key reads as null without the "Undefined array key" warning.
constexpr FragmentLine TitleLines[] = {
    {8, u"<?php"},
    {8, u"$iet = isset($_GET[\"in\"]) ? $_GET[\"in\"] : null;"},
    {8, u"if (! isset ($iet))$_GET[\"in\"] = 1;"},
    {8, u"if ($iet == \"\")"},
    {12, u"$iet = 1;"},
    {8, u"$iet = sprintf(\"%04d\", $iet);"},
    {8, u"settype($iet, \"string\");"},
    {8, u"$file = fopen(\"etc/head.txt\", \"r\");"},
    {8, u"$buff = \"\";"},
    {8, u"while (!feof($file))"},
    {8, u"{"},
    {12, u"$buff = fgets($file);"},
    {12, u"if (strstr($buff, $iet) != false)"},
    {12, u"{"},
    {16, u"echo substr($buff, 5);"},
    {16, u"fclose($file);"},
    {16, u"$sin = isset($_GET[\"sin\"]) ? $_GET[\"sin\"] : null;"},
    {16, u"if ( isset ($sin))"},
    {16, u"{"},
    {20, u"echo \" - \";"},
    {20, u"$iet = sprintf(\"%04d\", $sin);"},
    {20, u"$fp = fopen(\"etc/head.txt\", \"r\");"},
    {20, u"$buff = \"\";"},
    {20, u"while (!feof($fp))"},
    {20, u"{"},
    {23, u"$buff = fgets($fp);"},
    {23, u"if (strstr($buff, $iet) != false)"},
    {23, u"{"},
    {28, u"echo substr($buff, 5);"},
    {28, u"break;"},
    {23, u"}"},
    {20, u"}"},
    {16, u"}"},
    {16, u"break;"},
    {12, u"}"},
    {8, u"}"},
    {8, u"?>"},
};

constexpr FragmentLine ContentLines[] = {
    {8, u"<?php"},
    {19, u"$sin = isset($_GET[\"in\"]) ? $_GET[\"in\"] : null;"},
    {19, u"$iet = sprintf(\"%04d\", $sin);"},
    {19, u"$fp = fopen(\"etc/file.txt\", \"r\");"},
    {19, u"$buff = \"\";"},
    {19, u"while (!feof($fp))"},
    {19, u"{"},
    {23, u"$buff = fgets($fp);"},
    {23, u"if (strstr($buff, $iet) != false)"},
    {23, u"{"},
    {27, u"$buff = sprintf(\"%s%s\", \"mf/pages/\", substr($buff, 5, strlen($buff)-7));"},
    {27, u"$buff = trim($buff);"},
    {27, u"if (is_file($buff))"},
    {31, u"{"},
    {31, u"include_once $buff;"},
    {31, u"}"},
    {27, u"else{"},
    {32, u"echo \"eror <br>\";"},
    {32, u"echo $buff;"},
    {32, u"}"},
    {27, u"break;"},
    {23, u"}"},
    {19, u"}"},
    {8, u"?>"},
};

template <size_t N>
QStringList render(const FragmentLine (&lines)[N]) {
    QStringList out;
    out.reserve(static_cast<qsizetype>(N));
    for (const FragmentLine& l : lines) {
        out.append(QString(l.indent, u' ') + QString::fromUtf16(l.text));
    }
    return out;
}

// An Apache refusal, in the words of 2.4 and of 2.2 (whose Order and Deny 2.4 knows only
// through its compatibility module).
QStringList refusal(const QString& indent) {
    return {indent + QStringLiteral("<IfModule mod_authz_core.c>"),
            indent + QStringLiteral("    Require all denied"),
            indent + QStringLiteral("</IfModule>"),
            indent + QStringLiteral("<IfModule !mod_authz_core.c>"),
            indent + QStringLiteral("    Order allow,deny"),
            indent + QStringLiteral("    Deny from all"),
            indent + QStringLiteral("</IfModule>")};
}

const QString TitleMarker = QStringLiteral("{{title}}");
const QString ContentMarker = QStringLiteral("{{content}}");
const QString BlockMarker = QStringLiteral("{{bloc=");
const QString BlockEnd = QStringLiteral("}}");

}  // namespace

QStringList titleBlock() {
    return render(TitleLines);
}
QStringList contentBlock() {
    return render(ContentLines);
}

QStringList blockInclude(const QString& name) {
    return {QStringLiteral("<?php"),
            QStringLiteral("include \"etc/blocs/") + name + QStringLiteral(".tq\";"),
            QStringLiteral("?>")};
}

QStringList compileTemplate(const QStringList& templateLines) {
    static const QStringList title = titleBlock();
    static const QStringList content = contentBlock();
    QStringList out{CharsetLine};
    for (const QString& line : templateLines) {
        const qsizetype t = line.indexOf(TitleMarker);
        const qsizetype b = line.indexOf(BlockMarker);
        const qsizetype c = line.indexOf(ContentMarker);
        if (t < 0 && b < 0 && c < 0) {
            out.append(line);
            continue;
        }
        // First pass: the title, or else a block. Each pass works on the whole input line.
        if (t >= 0) {
            out.append(line.left(t));
            out.append(title);
            out.append(line.mid(t + TitleMarker.size()));
        } else if (b >= 0) {
            // The name runs up to the first "}}" anywhere on the line; none, or one before the
            // marker's name, gives an empty name.
            const qsizetype end = line.indexOf(BlockEnd);
            const qsizetype nameLength = end - (b + BlockMarker.size());
            out.append(line.left(b));
            out.append(blockInclude(nameLength > 0 ? line.mid(b + BlockMarker.size(), nameLength)
                                                   : QString()));
            out.append(line.mid(end + BlockEnd.size()));
        }
        // Second pass: the content.
        if (c >= 0) {
            out.append(line.left(c));
            out.append(content);
            out.append(line.mid(c + ContentMarker.size()));
        }
    }
    return out;
}

QStringList pagesAccessLines() {
    return QStringList{QStringLiteral("# Страницы сайта показывает index.php; напрямую их не "
                                      "отдают.")} +
           refusal(QString());
}

QStringList etcAccessLines() {
    // The design folder below also holds the pictures and styles the pages show: only the
    // site's own files are refused, and names without a dot (a save cut short leaves those).
    return QStringList{QStringLiteral("# Указатели страниц, блоки и шаблон читает index.php; "
                                      "напрямую их не отдают."),
                       QStringLiteral("<FilesMatch \"(\\.txt|\\.tq|^theme\\.html|^[^.]+)$\">")} +
           refusal(QStringLiteral("    ")) + QStringList{QStringLiteral("</FilesMatch>")};
}

namespace {

void checkTemplateSize(const OpenSiteState& state, qsizetype lines, const QString& outcome) {
    if (lines > state.templateLines.capacity()) {
        throw ZorError(QStringLiteral("Шаблон содержит %1 строк, а обработать можно не больше %2. ")
                           .arg(lines)
                           .arg(state.templateLines.capacity()) +
                       outcome);
    }
}

}  // namespace

void saveAndCompile(OpenSiteState& state, const QString& templateText) {
    checkTemplateSize(state, textfile::splitLines(templateText).size(),
                      QStringLiteral("Шаблон не сохранён."));
    textfile::writeText(site::themePath(state.sitePath), templateText);
    compileSavedTemplate(state);
}

int compileSavedTemplate(OpenSiteState& state) {
    const QStringList stored = textfile::readLines(site::themePath(state.sitePath));
    checkTemplateSize(state, stored.size(), QStringLiteral("Файл index.php не изменён."));
    // The compiled site finds every page of the open site, saved or not.
    site::writeIndexFiles(state);
    for (int k = 1; k <= stored.size(); ++k) {
        state.templateLines[k] = stored[k - 1];
    }
    // Before index.php: a site that serves its pages never serves their sources.
    textfile::writeLines(state.sitePath + QStringLiteral("/etc/.htaccess"), etcAccessLines());
    textfile::writeLines(site::pagesFolder(state.sitePath) + QStringLiteral("/.htaccess"),
                         pagesAccessLines());
    textfile::writeLines(site::frontControllerPath(state.sitePath), compileTemplate(stored));
    return static_cast<int>(stored.size());
}

}  // namespace zor::design
