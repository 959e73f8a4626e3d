#include "platform/OneLineField.h"

#include <QLineEdit>
#include <QValidator>
#include <algorithm>

namespace zor {
namespace {

bool breaksLine(QChar c) {
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

// A validator may rewrite the text it is given; the field then takes the rewritten text.
class OneLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override {
        if (std::none_of(input.cbegin(), input.cend(), breaksLine)) {
            return Acceptable;
        }
        QString out;
        out.reserve(input.size());
        int newPos = pos;
        for (qsizetype i = 0; i < input.size(); ++i) {
            if (input[i] == u'\r' && i + 1 < input.size() && input[i + 1] == u'\n') {
                if (i + 1 < pos) {
                    --newPos;
                }
                continue;  // the LF that follows stands for the pair
            }
            out.append(breaksLine(input[i]) ? QChar(u' ') : input[i]);
        }
        input = out;
        pos = newPos;
        return Acceptable;
    }
};

}  // namespace

void keepOnOneLine(QLineEdit* field) {
    auto* validator = new OneLineValidator(field);
    field->setValidator(validator);
    // Text set before the validator came is put right as well.
    QString text = field->text();
    int pos = 0;
    validator->validate(text, pos);
    if (text != field->text()) {
        field->setText(text);
    }
}

}  // namespace zor
