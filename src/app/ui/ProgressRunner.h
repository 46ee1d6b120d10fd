#pragma once
// Runs a long pipeline step on a worker thread behind a modal progress
// dialog, so that the window keeps repainting and the person can ask the
// step to stop. Messages the step passes through ProgressSink::notify are
// shown as information boxes on the window's thread.
#include <QString>
#include <functional>

#include "app/StepFlow.h"

class QWidget;

namespace kestrel {

class ProgressSink;

// Blocks (while processing events) until `work` has returned. The dialog
// appears after a short delay so that quick steps do not flash it; `work`
// must not touch any widget.
LongStepResult runWithProgress(QWidget* parent, const QString& title,
                               const std::function<bool(ProgressSink&)>& work);

// The text shown for one of the controller's stage names.
QString stageText(const QString& stage);

}  // namespace kestrel
