#pragma once

#include <QDialog>
#include <array>
#include <functional>

#include "site/OpenSiteState.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace zor::files {

struct MediaCategory;

// The file manager: copies a file into one of the site's media folders and shows its web link;
// lists a folder's files, gives the link of one and deletes one. Shown modally.
class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(OpenSiteState& state, QWidget* parent = nullptr);

    // Where links start: the current text of the site address field (links use it normalised).
    void setAddressSource(std::function<QString()> addressText) {
        addressText_ = std::move(addressText);
    }

    // Shows the window modally.
    int showModal();
    // The same with a file already chosen: shownPath goes into pyt and names the copy, the file
    // itself is read from sourcePath (they differ for a dropped file, whose shown path is
    // lower-cased). The remembered dialog path stays as it is.
    int showWithFile(const QString& shownPath, const QString& sourcePath);

    void SpeedButton1Click();  // "Выбрать"
    void button1Click();       // "Копировать"
    void FileListBox2Click();  // a name in the list: its link
    void SpeedButton3Click();  // "Удалить"

    QPushButton* SpeedButton1;
    QPushButton* button1;
    std::array<QRadioButton*, 4> copyChoice;  // RadioButton1..4: where "Копировать" copies to
    std::array<QRadioButton*, 4> browseChoice;  // RadioButton5..8: which folder the list shows
    QLabel* pyt;                                // the chosen file
    QLabel* Label3;                             // "Ссылка на файл"
    QLineEdit* Edit1;                           // the link
    QLabel* linkNote;                           // under a link given without the site's address
    QListWidget* FileListBox2;                  // the files of the browsed folder
    QLabel* missingNote;                        // under the list when its folder is missing
    QPushButton* SpeedButton3;

    // Every way of closing: the link is hidden and nothing stays chosen.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    const MediaCategory& copyCategory() const;
    const MediaCategory& browseCategory() const;
    // Re-reads the list from the browsed folder of the site open now.
    void rereadList();
    void showLink(const QString& link);
    void setChosen(const QString& shownPath, const QString& sourcePath);

    OpenSiteState& state_;
    std::function<QString()> addressText_;
    QButtonGroup* copyGroup_;
    QButtonGroup* browseGroup_;
    QString source_;          // the file "Копировать" reads
    QString rememberedPath_;  // pre-filled in the next open-file dialog
};

}  // namespace zor::files
