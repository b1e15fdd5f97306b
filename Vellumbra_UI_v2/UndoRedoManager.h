#pragma once
#include <QDateTime>
#include <QPointer>

#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

class QAction;

// The undo history of one open media. Each record knows a widget, one setter of
// it and the values before and after a change; replaying calls the setter, so
// the widget's own change signal re-applies the value. Changes of one widget
// through one setter that come less than 500 ms apart merge into one record.
class UndoRedoManager {
public:
    using Clock = std::function<QDateTime()>;

    class ActionBase {
    public:
        virtual ~ActionBase() = default;
        virtual void undo() = 0;
        virtual void redo() = 0;
    };

    // Values of class type go to the setter by const reference, the others by value.
    template <typename T>
    using SetterArgument = std::conditional_t<std::is_class_v<T>, const T&, T>;

    template <typename T, typename Widget>
    class Action : public ActionBase {
    public:
        using Setter = void (Widget::*)(SetterArgument<T>);

        Action(T oldValue, T newValue, const char* description, Setter setter, Widget* widget)
            : oldValue(oldValue), newValue(newValue), description(description), setter(setter), widget(widget)
        {
        }
        void undo() override { (widget->*setter)(oldValue); }
        void redo() override { (widget->*setter)(newValue); }

        T oldValue;
        T newValue;
        const char* description;
        Setter setter;
        Widget* widget;
    };

    // Something switched on while its stack is not empty.
    class WidgetControlBase {
    public:
        virtual ~WidgetControlBase() = default;
        virtual void setEnabled(bool enabled) = 0;
    };

    template <typename Widget>
    class WidgetControl : public WidgetControlBase {
    public:
        WidgetControl(Widget* widget, void (Widget::*setter)(bool)) : widget(widget), setter(setter) {}
        // A widget deleted before the control is skipped.
        void setEnabled(bool enabled) override
        {
            if (widget)
                (widget.data()->*setter)(enabled);
        }

    private:
        QPointer<Widget> widget;
        void (Widget::*setter)(bool);
    };

    static constexpr int undoDepth = 20;
    static constexpr int mergeWindowMs = 500;

    // clock: the time of each record; the local time when empty.
    explicit UndoRedoManager(Clock clock = {});
    ~UndoRedoManager();
    UndoRedoManager(const UndoRedoManager&) = delete;
    UndoRedoManager& operator=(const UndoRedoManager&) = delete;

    // Records a change the caller has just applied. Nothing is recorded while a
    // replay runs, for a null widget or for an unchanged value.
    template <typename T, typename Widget>
    void add(std::common_type_t<Widget>* widget, void (Widget::*setter)(SetterArgument<T>), const T& oldValue,
             const T& newValue, const char* description);

    void undo();
    void redo();
    void clear();
    void refreshControls() const;
    // Reads the time from clock from now on (the local time when empty).
    void setClock(Clock clock);

    bool canUndo() const { return !undoStack.empty(); }
    bool canRedo() const { return !redoStack.empty(); }
    int undoCount() const { return static_cast<int>(undoStack.size()); }
    int redoCount() const { return static_cast<int>(redoStack.size()); }

    // The controls of every manager (one media is open at a time).
    static void addUndoControl(QAction* action);
    static void addRedoControl(QAction* action);
    static void deleteControls();

private:
    // Time of this change; true when it continues the top record's change.
    bool continuesTopRecord(const std::function<bool(ActionBase*)>& sameTarget);
    void push(std::unique_ptr<ActionBase> action);
    static void replay(std::vector<std::unique_ptr<ActionBase>>& from, std::vector<std::unique_ptr<ActionBase>>& to,
                       bool undoing, UndoRedoManager& manager);

    std::vector<std::unique_ptr<ActionBase>> undoStack;
    std::vector<std::unique_ptr<ActionBase>> redoStack;
    bool busy = false;
    Clock clock;
    QDateTime lastRecordTime;
};

template <typename T, typename Widget>
void UndoRedoManager::add(std::common_type_t<Widget>* widget, void (Widget::*setter)(SetterArgument<T>),
                          const T& oldValue, const T& newValue, const char* description)
{
    if (busy || !widget || oldValue == newValue)
        return;
    using Record = Action<T, Widget>;
    const bool merge = continuesTopRecord([&](ActionBase* top) {
        const auto* record = dynamic_cast<Record*>(top);
        return record && record->widget == widget && record->setter == setter;
    });
    if (merge) {
        static_cast<Record*>(undoStack.back().get())->newValue = newValue;
        return;
    }
    push(std::make_unique<Record>(oldValue, newValue, description, setter, widget));
}
