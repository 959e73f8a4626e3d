#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace zor::editor {

// Keeps PHP code (and any other "<?" ... "?>" processing instruction) intact through the visual
// editor. A browser turns such code into comments, cuts it at its first ">" or makes junk
// attributes of it; so before the text goes into the browser each block is replaced by a
// placeholder that the browser leaves alone where it stands, and the browser's HTML gets the
// blocks back on the way out:
//  - in content: an inert, visible element showing the start of the code;
//  - in tables and selects, where an element would be moved out: a comment;
//  - inside a tag or an attribute value, a comment, or a script, style, textarea or title: a
//    plain token.
// One instance lives for one editing session; it remembers every block it has seen, so a
// placeholder from any earlier push still comes back, and the same code keeps its number.
class PhpProtection {
public:
    // Chooses a marker that the text does not already hold.
    explicit PhpProtection(QStringView text = {});

    QString protect(QStringView text);
    // Puts the blocks back in place of their placeholders; anything unknown stays as it is.
    QString restore(const QString& html) const;

    const QString& marker() const { return marker_; }
    const QStringList& blocks() const { return blocks_; }

private:
    int idOf(const QString& block);

    QString marker_;
    QStringList blocks_;
    QRegularExpression placeholders_;
};

}  // namespace zor::editor
