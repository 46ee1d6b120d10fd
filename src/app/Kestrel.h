#pragma once
// The C++ interface of the pipeline without windows: what a program, or a
// binding such as the Python module, includes to train a workspace and to
// classify and evaluate a corpus with it. A run is described by one record
// (TrainingRun, ClassificationRun), handed to a controller with describeRun,
// and carried out stage by stage with runStages, which names the stage that
// failed. The controller then holds the categories, the documents with their
// assignments and the decision values.
#include "app/CorpusCounting.h"
#include "app/RunStages.h"
#include "app/TextClassifier.h"
#include "common/FileSystem.h"
#include "common/Progress.h"
#include "evaluate/Evaluation.h"
#include "pipeline/RunDescription.h"
#include "workspace/DefaultWorkspace.h"
#include "workspace/ParameterNames.h"
#include "workspace/WorkspaceFiles.h"
