#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace zor::test {

// Page texts with PHP where a "?>" does or does not end the code, after the cases the PHP
// manual gives for tags, comments and strings; each with the code blocks it holds, as PHP
// itself reads them (left out where the whole text is one block).
struct PhpCase {
    const char* name;
    QString text;
    QStringList blocks{};
};

inline const std::vector<PhpCase>& phpCases() {
    static const std::vector<PhpCase> cases = [] {
        std::vector<PhpCase> rows{
            {"double-quoted string", "<?php echo \"<?xml version='1.0'?>\"; echo \"<b>x</b>\"; ?>"},
            {"single-quoted string",
             "<p><?php echo '<?xml version=\"1.0\"?>'; ?></p>",
             {"<?php echo '<?xml version=\"1.0\"?>'; ?>"}},
            {"escaped quotes",
             "<?php echo 'it\\'s ?> here', \"say \\\"?>\\\" now\"; ?>x",
             {"<?php echo 'it\\'s ?> here', \"say \\\"?>\\\" now\"; ?>"}},
            {"backslash ends a string",
             "<?php echo 'C:\\\\'; ?><b>y</b><?php echo \"\\\\\"; ?>",
             {"<?php echo 'C:\\\\'; ?>", "<?php echo \"\\\\\"; ?>"}},
            {"block comment",
             "<?php /* ?> is not the end */ echo 1; ?><i>z</i>",
             {"<?php /* ?> is not the end */ echo 1; ?>"}},
            {"line comment ends at the tag",
             "<h1>This is an <?php # echo 'simple';?> example</h1>",
             {"<?php # echo 'simple';?>"}},
            {"quotes in a line comment", "<?php // echo \"?>\"; ?>", {"<?php // echo \"?>"}},
            {"line comment ends at the line end", "<?php // a note\r\necho \"?>\"; ?>"},
            {"heredoc",
             "<?php echo <<<EOT\r\nA ?> B\r\nEOT;\r\n?><p>after</p>",
             {"<?php echo <<<EOT\r\nA ?> B\r\nEOT;\r\n?>"}},
            {"quoted heredoc label", "<?php echo <<<\"EOT\"\nx ?> \"y\"\nEOT;\n?>"},
            {"nowdoc", "<?php echo <<<'EOT'\n{$x} ?> 'q'\nEOT;\n?>"},
            {"indented closing label", "<?php echo <<<EOT\n    a ?> EOTX\n    EOT;\n?>"},
            {"heredoc interpolation with quotes",
             "<?php $a = ['k' => 1]; echo <<<EOT\n{$a[\"k\"]} ?>\nEOT;\n?>"},
            {"string interpolation with quotes", "<?php $a = ['?>' => 1]; echo \"{$a['?>']}\"; ?>"},
            {"attribute is not a comment", "<?php #[Attr(\"?>\")]\nfunction f() {} ?>"},
            {"short echo tag", "<td><?= \"?>\" ?></td>", {"<?= \"?>\" ?>"}},
            {"nullsafe and coalescing", "<?php echo $a?->b ?? \"?>\"; ?>"},
            {"two blocks",
             "<?php echo \"a?>\"; ?><b>x</b><?php echo 'b'; ?>",
             {"<?php echo \"a?>\"; ?>", "<?php echo 'b'; ?>"}},
            {"comment opener in a string",
             "<?php echo \"/*\"; ?> text */",
             {"<?php echo \"/*\"; ?>"}},
            {"capital tag", "<?PHP echo \"?>\"; ?>.", {"<?PHP echo \"?>\"; ?>"}},
            {"no closing tag",
             "<p>top</p><?php echo \"end ?>\";\r\n",
             {"<?php echo \"end ?>\";\r\n"}},
            {"halt compiler", "<?php echo 1; __halt_compiler(); ?> raw <?php data"},
            {"xml declaration", "<?xml version=\"1.0\"?><p>x</p>", {"<?xml version=\"1.0\"?>"}},
        };
        for (PhpCase& row : rows) {
            if (row.blocks.isEmpty()) {
                row.blocks = {row.text};
            }
        }
        return rows;
    }();
    return cases;
}

}  // namespace zor::test
