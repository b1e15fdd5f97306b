#pragma once

class QWidget;

// Re-applies the style sheet to a widget and all its descendants, so rules keyed
// on a dynamic property take effect after the property changed; then repaints
// the widget's window.
void repolish(QWidget* widget);
