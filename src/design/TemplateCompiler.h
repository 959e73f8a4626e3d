#pragma once

#include <QString>
#include <QStringList>

#include "site/OpenSiteState.h"

// The design template turned into the site's front controller "index.php": lines without a
// marker are copied; "{{title}}", "{{content}}" and "{{bloc=name}}" become fixed PHP fragments
// that look the requested page up in the index files at request time.
namespace zor::design {

// The first line of every index.php: our pages are Windows-1251, and PHP would otherwise
// announce UTF-8. PHP drops the line end that follows "?>", so nothing is output before the page.
inline const QString CharsetLine =
    QStringLiteral("<?php header(\"Content-Type: text/html; charset=windows-1251\"); ?>");

QStringList titleBlock();
QStringList contentBlock();
QStringList blockInclude(const QString& name);

// Pure: template lines in, index.php lines out (each is later written with CR LF).
QStringList compileTemplate(const QStringList& templateLines);

// The ".htaccess" files that keep Apache (2.2 and 2.4) from sending the site's sources as they
// are: everything in "mf/pages"; in "etc", the index files, blocks and the template.
QStringList pagesAccessLines();
QStringList etcAccessLines();

// "Сохранить" of the design screen: brings the index files up to date, writes the template
// text exactly as given, reads it back line by line into TemplateLines, writes the ".htaccess"
// files and the compiled "index.php". Refuses a template of more than 5000 lines before writing
// anything.
void saveAndCompile(OpenSiteState& state, const QString& templateText);

}  // namespace zor::design
