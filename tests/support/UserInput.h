#pragma once

#include <gtest/gtest.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

// Input as the user gives it, on shown windows: the drop-down's own popup, clicks on list
// entries, a right click that opens the context menu and a click on its entry. What the widget
// does with it (and whether anything listens) is then the program's own wiring.
namespace zor::test {

inline void click(QWidget* widget) {
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton);
}

// Typed key by key, as a user types; QTest's own typing knows Latin letters only.
inline void type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// The entries' texts of a drop-down or a list, in order.
template <typename Widget>
QStringList items(const Widget* widget) {
    QStringList texts;
    for (int row = 0; row < widget->model()->rowCount(); ++row) {
        texts.append(widget->model()->index(row, 0).data().toString());
    }
    return texts;
}

// Opens the drop-down with a click and clicks its entry.
inline void chooseEntry(QComboBox* box, int index) {
    ASSERT_TRUE(box && box->isVisible()) << "the drop-down must be on a shown window";
    QTest::mouseClick(box, Qt::LeftButton);
    QAbstractItemView* view = box->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->isVisible(); }, 5000)) << "no popup";
    const QModelIndex entry = box->model()->index(index, 0);
    view->scrollTo(entry);  // as the user scrolls a long list to the entry
    const QPoint at = view->visualRect(entry).center();
    // The popup ignores a release that follows its opening too closely, as a double click
    // would; the click is given again until the popup takes it and closes.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (view->isVisible()) {
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            }
            return !view->isVisible();
        },
        5000))
        << "the popup took no click";
}

inline void clickEntry(QListWidget* list, int row) {
    ASSERT_TRUE(list && list->isVisible());
    QListWidgetItem* item = list->item(row);
    ASSERT_NE(item, nullptr);
    list->scrollToItem(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

// A right click at `at` (the widget's middle when left out) through the window system, which
// makes the context menu request.
inline void rightClick(QWidget* widget, QPoint at = {}) {
    ASSERT_TRUE(widget && widget->isVisible());
    if (at.isNull()) {
        at = widget->rect().center();
    }
    QWidget* top = widget->window();
    QTest::mouseClick(top->windowHandle(), Qt::RightButton, {}, widget->mapTo(top, at));
}

// A right click, then a click on the context menu's entry with that text (its shortcut aside).
inline void contextCommand(QWidget* widget, const QString& entry, QPoint at = {}) {
    rightClick(widget, at);
    QMenu* menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }, 5000))
        << "no context menu";
    for (QAction* a : menu->actions()) {
        if (a->text().section(u'\t', 0, 0) == entry) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
            return;
        }
    }
    menu->close();
    FAIL() << "no entry " << entry.toStdString() << " in the context menu";
}

// Runs `open`, which shows `window` modally; `inside` runs from its modal loop once it shows,
// then the window is closed unless `inside` closed it. Returns whether it was shown.
inline bool whileShown(QWidget& window, const std::function<void()>& open,
                       const std::function<void()>& inside) {
    bool shown = false;
    QTimer watch;  // `open` may itself wait for its input to be taken first
    QObject::connect(&watch, &QTimer::timeout, &window, [&] {
        if (shown || !window.isVisible()) {
            return;
        }
        shown = true;
        inside();
        if (window.isVisible()) {
            window.close();
        }
        if (window.isVisible()) {
            ADD_FAILURE() << "the window did not close";
            window.hide();
        }
    });
    watch.start(5);
    open();
    return shown;
}

}  // namespace zor::test
