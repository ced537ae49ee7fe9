#include "Accessibility.h"

#include "LevelMeter.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QPointer>

namespace vexo::a11y {

namespace {

// Set on the widgets whose interfaces the station provides itself.
constexpr char kCaptionProperty[] = "vexoCaption";

QLabel* labelProperty(const QWidget* w, const char* name)
{
    return qobject_cast<QLabel*>(w->property(name).value<QObject*>());
}

// Qt names a drop-down list on Linux by its current entry and leaves the caption to the labelled-by
// relation; screen readers and automation look for the name. The list is named like every other
// control and keeps its entry as its value.
class ComboBoxInterface : public QAccessibleWidget
{
public:
    explicit ComboBoxInterface(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value || (t == QAccessible::Name && combo()->accessibleName().isEmpty()))
            return combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == combo()->view() ? 0 : -1;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = combo()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action != showMenuAction() && action != pressAction())
            return QAccessibleWidget::doAction(action);
        if (combo()->view()->isVisible())
            combo()->hidePopup();
        else
            combo()->showPopup();
    }

private:
    QComboBox* combo() const { return static_cast<QComboBox*>(widget()); }
};

// A value label read with the caption of its row.
class ValueLabelInterface : public QAccessibleWidget
{
public:
    explicit ValueLabelInterface(QLabel* value) : QAccessibleWidget(value, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override
    {
        auto result = QAccessibleWidget::relations(match);
        if (match & QAccessible::Label) {
            if (QLabel* caption = labelProperty(widget(), kCaptionProperty))
                result.append({QAccessible::queryAccessibleInterface(caption), QAccessible::Label});
        }
        return result;
    }
};

// A drawing read as one object: what is drawn inside it is no object of its own.
class LeafInterface : public QAccessibleWidget
{
public:
    LeafInterface(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
};

// The level meter: one indicator whose value is the level text.
class LevelBarInterface : public LeafInterface
{
public:
    explicit LevelBarInterface(LevelMeter* meter) : LeafInterface(meter, QAccessible::Indicator) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return static_cast<const LevelMeter*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* stationInterfaces(const QString& className, QObject* object)
{
    auto* w = qobject_cast<QWidget*>(object);
    if (!w)
        return nullptr;
    if (className == QLatin1String("QComboBox")) {
        auto* combo = static_cast<QComboBox*>(w);
        return combo->isEditable() ? nullptr : new ComboBoxInterface(combo);
    }
    if (className == QLatin1String("QLabel") && labelProperty(w, kCaptionProperty))
        return new ValueLabelInterface(static_cast<QLabel*>(w));
    if (className == QLatin1String("vexo::LevelMeter"))
        return new LevelBarInterface(static_cast<LevelMeter*>(w));
    // The latency chart: its values are read from the table beside it.
    if (className == QLatin1String("vexo::SfnChart"))
        return new LeafInterface(w, QAccessible::Chart);
    // Qt exposes a toolbar's separator as an empty client area.
    if (className == QLatin1String("QToolBarSeparator"))
        return new QAccessibleWidget(w, QAccessible::Separator);
    return nullptr;
}

// An interface made before the widget was marked (an assistive technology listening while the
// window was built) is dropped, so that the next query makes the station's own.
template <typename Interface> void renew(QWidget* w)
{
    QAccessibleInterface* current = QAccessible::queryAccessibleInterface(w);
    if (current && !dynamic_cast<Interface*>(current))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(current));
}

} // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(stationInterfaces);
        return true;
    }();
    Q_UNUSED(installed);
}

QString spokenCaption(const QString& caption)
{
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size())
            ++i; // "&&" is one ampersand, "&x" marks the access key x
        text += caption[i];
    }
    text = text.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

void label(QLabel* caption, QWidget* control)
{
    caption->setBuddy(control);
    control->setAccessibleName(spokenCaption(caption->text()));
}

void relabel(QLabel* caption, QWidget* control, const QString& text)
{
    caption->setText(text);
    label(caption, control);
}

void labelValue(QLabel* caption, QLabel* value)
{
    value->setProperty(kCaptionProperty, QVariant::fromValue<QObject*>(caption));
    renew<ValueLabelInterface>(value);
}

void levelBar(LevelMeter* meter, QLabel* caption)
{
    label(caption, meter);
    renew<LevelBarInterface>(meter);
}

} // namespace vexo::a11y
