#include "portbox.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QStyledItemDelegate>

namespace {

const char preparedProperty[] = "kestrelflashPortBox";

// Qt's own combo box interface on Linux takes the current item for the box's
// name, so a screen reader would announce "ttyUSB0" and never what the box is
// for. The port box keeps its name, and tells its port as its value, on every host.
class PortBoxAccessible : public QAccessibleWidget
{
public:
    explicit PortBoxAccessible(QComboBox *box)
        : QAccessibleWidget(box, QAccessible::ComboBox)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? box()->currentText() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        return state;
    }
    // The drop-down list, as in Qt's own interface, so that its items can be read.
    int childCount() const override { return 1; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(box()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && child->object() == box()->view() ? 0 : -1;
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &action) override
    {
        if (action == showMenuAction() || action == pressAction())
            box()->showPopup();
    }

private:
    QComboBox *box() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *portBoxAccessible(const QString &className, QObject *object)
{
    auto *box = qobject_cast<QComboBox *>(object);
    if (className == QLatin1String("QComboBox") && box && box->property(preparedProperty).toBool())
        return new PortBoxAccessible(box);
    return nullptr;
}

// The open list shows each port as a screen reader reads it out; the item's
// own text, shown when the box is closed, stays the port's bare name.
class PortListDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString label = index.data(Qt::AccessibleTextRole).toString();
        if (!label.isEmpty())
            option->text = label;
    }
};

} // namespace

void preparePortBox(QComboBox *box)
{
    box->setProperty(preparedProperty, true);
    // Installed again for each window, which Qt ignores; it must be in place
    // before a screen reader first asks about the port box.
    QAccessible::installFactory(portBoxAccessible);
    box->setItemDelegate(new PortListDelegate(box));
}

QString portDetails(const QString &description, const QString &manufacturer)
{
    // Windows names its own ports' maker "(Standard port types)".
    QString maker = manufacturer;
    if (maker.startsWith(QLatin1Char('(')) && maker.endsWith(QLatin1Char(')')))
        maker = maker.mid(1, maker.size() - 2);
    if (maker.isEmpty() || description.contains(maker, Qt::CaseInsensitive))
        return description;
    return description.isEmpty() ? maker : description + QStringLiteral(" (%1)").arg(maker);
}

void addPort(QComboBox *box, const QString &name, const QString &details)
{
    box->addItem(name);
    if (!details.isEmpty())
        box->setItemData(box->count() - 1,
                         QCoreApplication::translate("AvrUpdateDialog", "%1 \u2014 %2", nullptr)
                             .arg(name, details),
                         Qt::AccessibleTextRole);
    // Some styles size the open list by the names alone.
    QAbstractItemView *list = box->view();
    list->setMinimumWidth(
        qMax(list->minimumWidth(), list->sizeHintForColumn(0) + 2 * list->frameWidth()));
}
