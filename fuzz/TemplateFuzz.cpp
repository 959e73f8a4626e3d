// The design template compiled into index.php.
#include "FuzzCheck.h"
#include "design/TemplateCompiler.h"
#include "platform/TextFile.h"

using namespace zor;

namespace {

const QString Title = QStringLiteral("{{title}}");
const QString Content = QStringLiteral("{{content}}");
const QString Block = QStringLiteral("{{bloc=");

qsizetype countOf(const QStringList& lines, const QString& line) {
    return std::count(lines.begin(), lines.end(), line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines = textfile::splitLines(textfile::fromCp1251(fuzz::bytesOf(data, size)));
    const QStringList out = design::compileTemplate(lines);

    FUZZ_CHECK(!out.isEmpty() && out.first() == design::CharsetLine);
    // Every line is written with CR LF: none may hold a line end of its own.
    for (const QString& line : out) {
        FUZZ_CHECK(!line.contains(u'\r') && !line.contains(u'\n'));
    }
    const QByteArray file = textfile::toCp1251(textfile::joinLines(out));
    FUZZ_CHECK(file.endsWith("\r\n"));
    FUZZ_CHECK(textfile::splitLines(textfile::fromCp1251(file)) == out);

    // Each line holds its own markers only: a line without one is copied, a line with some
    // becomes a fixed number of lines with the fragments in them.
    const qsizetype titleSize = design::titleBlock().size();
    const qsizetype contentSize = design::contentBlock().size();
    qsizetype expected = 1;
    qsizetype titles = 0;
    qsizetype contents = 0;
    qsizetype blocks = 0;
    for (const QString& line : lines) {
        const bool t = line.contains(Title);
        const bool b = !t && line.contains(Block);
        const bool c = line.contains(Content);
        expected += (t || b || c) ? 0 : 1;
        expected += t ? titleSize + 2 : 0;
        expected += b ? 3 + 2 : 0;
        expected += c ? contentSize + 2 : 0;
        titles += t;
        contents += c;
        blocks += b;
    }
    FUZZ_CHECK(out.size() == expected);
    if (titles + contents + blocks == 0) {
        FUZZ_CHECK(out.mid(1) == lines);
    }
    // Every marker leaves its fragment in the output, whatever text stands around it.
    FUZZ_CHECK(countOf(out, design::titleBlock().first()) >= titles + contents);
    FUZZ_CHECK(countOf(out, QStringLiteral("<?php")) >= blocks);
    return 0;
}
