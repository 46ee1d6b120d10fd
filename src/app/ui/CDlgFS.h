#pragma once
// Feature-selection dialog: selection method and number of features.
#include <QDialog>

#include "app/DialogModels.h"

class QButtonGroup;
class QLineEdit;

namespace kestrel {

class CDlgFS : public QDialog {
    Q_OBJECT
public:
    explicit CDlgFS(FeatureSelectionModel& model, QWidget* parent = nullptr);

    void accept() override;

private:
    FeatureSelectionModel& model_;
    QButtonGroup* modes_;
    QLineEdit* dimension_;
};

}  // namespace kestrel
