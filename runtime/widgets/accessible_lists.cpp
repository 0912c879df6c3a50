#include "runtime/widgets/accessible_lists.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

namespace vorsa::runtime {

namespace {

// A label's text as it reads: "&&" is an ampersand, a single "&" marks the mnemonic and is dropped.
QString without_mnemonic(const QString& text)
{
    QString read;
    read.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        read.append(text[i]);
    }
    return read;
}

// A drop-down list for assistive technologies: a combo box whose children are its dropped list and, when
// it is editable, its field; its value is the selected or typed text; "press" and "show menu" drop the
// list down or close it.
class AccessibleList : public QAccessibleWidget
{
public:
    explicit AccessibleList(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    int childCount() const override { return box()->isEditable() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override
    {
        if (index == 0) return QAccessible::queryAccessibleInterface(box()->view());
        if (index == 1 && box()->lineEdit()) return QAccessible::queryAccessibleInterface(box()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        if (!child) return -1;
        if (child->object() == box()->view()) return 0;
        if (box()->lineEdit() && child->object() == box()->lineEdit()) return 1;
        return -1;
    }

    // (x, y) is a screen position.
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QLineEdit* field = box()->lineEdit();
        if (field && field->isVisible() && field->rect().contains(field->mapFromGlobal(QPoint(x, y))))
            return child(1);
        return nullptr;
    }

    QAccessibleInterface* focusChild() const override
    {
        if (box()->view()->hasFocus()) return child(0);
        if (box()->lineEdit()) return child(1);
        return nullptr;
    }

    QString text(QAccessible::Text kind) const override
    {
        switch (kind) {
        case QAccessible::Name: {
            const QString name = list_name(*box());
            return name.isEmpty() ? value() : name;
        }
        case QAccessible::Value:
            return value();
        default:
            return QAccessibleWidget::text(kind);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = box()->view()->isVisible();
        state.editable = box()->isEditable();
        return state;
    }

    QStringList actionNames() const override
    {
        return QAccessibleWidget::actionNames() << showMenuAction() << pressAction();
    }

    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (box()->view()->isVisible())
            box()->hidePopup();
        else
            box()->showPopup();
    }

private:
    QComboBox* box() const { return static_cast<QComboBox*>(widget()); }
    QString value() const { return box()->lineEdit() ? box()->lineEdit()->text() : box()->currentText(); }
};

QAccessibleInterface* make_accessible_list(const QString& class_name, QObject* object)
{
    if (class_name != QStringLiteral("QComboBox")) return nullptr;
    auto* box = qobject_cast<QComboBox*>(object);
    return box ? new AccessibleList(box) : nullptr;
}

} // namespace

QString list_name(const QComboBox& box)
{
    if (!box.accessibleName().isEmpty()) return box.accessibleName();
    if (const QWidget* parent = box.parentWidget()) {
        for (const QObject* child : parent->children()) {
            const auto* label = qobject_cast<const QLabel*>(child);
            if (label && label->buddy() == &box) return without_mnemonic(label->text());
        }
    }
    return {};
}

void install_accessible_lists()
{
    static const bool installed = [] {
        QAccessible::installFactory(make_accessible_list);
        return true;
    }();
    (void)installed;
}

void name_list_fields(QWidget& window)
{
    for (QComboBox* box : window.findChildren<QComboBox*>())
        if (QLineEdit* field = box->lineEdit(); field && field->accessibleName().isEmpty())
            field->setAccessibleName(list_name(*box));
}

} // namespace vorsa::runtime
