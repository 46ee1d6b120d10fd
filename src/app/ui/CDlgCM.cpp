#include "app/ui/CDlgCM.h"

#include <algorithm>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <QDialogButtonBox>

#include "app/ui/DialogParts.h"

namespace kestrel {

CDlgCM::CDlgCM(MethodModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setWindowTitle(QStringLiteral("分类模型"));
    setObjectName(QStringLiteral("CDlgCM"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildClassifierBox());
    layout->addWidget(buildKnnBox());
    layout->addWidget(buildSvmBox());
    layout->addWidget(makeOkCancel(this));
    // The boxes keep their natural size; there is nothing to give more room.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The label follows the track bar while it moves.
    connect(k_, &QSlider::valueChanged, this, [this](int value) { kLabel_->setText(QString::number(value)); });
    connect(kernel_, &QComboBox::currentIndexChanged, this, &CDlgCM::kernelChanged);

    if (auto* b = classifier_->button(static_cast<int>(model_.classifier))) b->setChecked(true);
    if (auto* b = similarity_->button(static_cast<int>(model_.similarity))) b->setChecked(true);
    k_->setValue(model_.k);
    kLabel_->setText(QString::number(k_->value()));
    biased_->setChecked(model_.biased);
    kernel_->setCurrentIndex(model_.kernelType);
    kernelChanged(kernel_->currentIndex());
}

// The choice between KNN and SVM.
QGroupBox* CDlgCM::buildClassifierBox() {
    auto* classifierBox = new QGroupBox(QStringLiteral("分类算法"), this);
    auto* classifierRow = new QHBoxLayout(classifierBox);
    classifier_ = new QButtonGroup(this);
    auto* knn = makeRadio(1045, QStringLiteral("KNN"), classifierBox);
    auto* svm = makeRadio(1046, QStringLiteral("SVM"), classifierBox);
    classifier_->addButton(knn, static_cast<int>(ClassifierKind::Knn));
    classifier_->addButton(svm, static_cast<int>(ClassifierKind::Svm));
    classifierRow->addWidget(knn);
    classifierRow->addWidget(svm);
    classifierRow->addStretch();
    return classifierBox;
}

// KNN's similarity and k.
QGroupBox* CDlgCM::buildKnnBox() {
    auto* knnBox = new QGroupBox(QStringLiteral("KNN参数"), this);
    auto* knnGrid = new QGridLayout(knnBox);
    similarity_ = new QButtonGroup(this);
    auto* cosine = makeRadio(1026, QStringLiteral("余弦相似度"), knnBox);
    auto* manhattan = makeRadio(1027, QStringLiteral("曼哈顿距离"), knnBox);
    auto* euclid = makeRadio(1038, QStringLiteral("欧氏距离"), knnBox);
    similarity_->addButton(cosine, static_cast<int>(Similarity::Cosine));
    similarity_->addButton(manhattan, static_cast<int>(Similarity::Manhattan));
    similarity_->addButton(euclid, static_cast<int>(Similarity::Euclidean));
    knnGrid->addWidget(new QLabel(QStringLiteral("相似度："), knnBox), 0, 0);
    knnGrid->addWidget(cosine, 0, 1);
    knnGrid->addWidget(manhattan, 0, 2);
    knnGrid->addWidget(euclid, 0, 3);
    k_ = new QSlider(Qt::Horizontal, knnBox);
    k_->setObjectName(QStringLiteral("1041"));
    k_->setRange(MethodModel::kMinK, MethodModel::kMaxK);
    k_->setTickPosition(QSlider::TicksBelow);
    k_->setTickInterval(10);
    kLabel_ = new QLabel(knnBox);
    kLabel_->setObjectName(QStringLiteral("1042"));
    kLabel_->setMinimumWidth(kLabel_->fontMetrics().horizontalAdvance(QStringLiteral("1000")));
    knnGrid->addWidget(new QLabel(QStringLiteral("K值："), knnBox), 1, 0);
    knnGrid->addWidget(k_, 1, 1, 1, 2);
    knnGrid->addWidget(kLabel_, 1, 3);
    return knnBox;
}

// The SVM's hyperplane, tolerance, kernel and kernel parameters.
QGroupBox* CDlgCM::buildSvmBox() {
    auto* svmBox = new QGroupBox(QStringLiteral("SVM参数"), this);
    auto* svmGrid = new QGridLayout(svmBox);
    biased_ = new QCheckBox(QStringLiteral("偏倚超平面"), svmBox);
    biased_->setObjectName(QStringLiteral("1047"));
    tolerance_ = makeEdit(1012, QString::fromStdString(formatNumber(model_.tolerance)), svmBox);
    kernel_ = new QComboBox(svmBox);
    kernel_->setObjectName(QStringLiteral("1048"));
    for (const char* name : MethodModel::kernelNames()) kernel_->addItem(QString::fromUtf8(name));
    degree_ = makeEdit(1013, QString::number(model_.degree), svmBox);
    gamma_ = makeEdit(1014, QString::fromStdString(formatNumber(model_.gamma)), svmBox);
    coefS_ = makeEdit(1015, QString::fromStdString(formatNumber(model_.coefS)), svmBox);
    coefC_ = makeEdit(1016, QString::fromStdString(formatNumber(model_.coefC)), svmBox);
    svmGrid->addWidget(biased_, 0, 0, 1, 2);
    svmGrid->addWidget(new QLabel(QStringLiteral("容忍偏差："), svmBox), 0, 2);
    svmGrid->addWidget(tolerance_, 0, 3);
    svmGrid->addWidget(new QLabel(QStringLiteral("核函数："), svmBox), 1, 0);
    svmGrid->addWidget(kernel_, 1, 1, 1, 3);
    svmGrid->addWidget(new QLabel(QStringLiteral("d："), svmBox), 2, 0);
    svmGrid->addWidget(degree_, 2, 1);
    svmGrid->addWidget(new QLabel(QStringLiteral("g："), svmBox), 2, 2);
    svmGrid->addWidget(gamma_, 2, 3);
    svmGrid->addWidget(new QLabel(QStringLiteral("s："), svmBox), 3, 0);
    svmGrid->addWidget(coefS_, 3, 1);
    svmGrid->addWidget(new QLabel(QStringLiteral("c："), svmBox), 3, 2);
    svmGrid->addWidget(coefC_, 3, 3);
    return svmBox;
}

void CDlgCM::kernelChanged(int kernelType) {
    const auto enabled = MethodModel::kernelParametersEnabled(kernelType);
    degree_->setEnabled(enabled[0]);
    gamma_->setEnabled(enabled[1]);
    coefS_->setEnabled(enabled[2]);
    coefC_->setEnabled(enabled[3]);
}

void CDlgCM::accept() {
    model_.classifier = static_cast<ClassifierKind>(std::max(classifier_->checkedId(), 0));
    model_.similarity = static_cast<Similarity>(std::max(similarity_->checkedId(), 0));
    model_.setK(k_->value());
    model_.biased = biased_->isChecked();
    model_.kernelType = kernel_->currentIndex() < 0 ? 0 : kernel_->currentIndex();
    if (auto refusal = model_.setNumberTexts(tolerance_->text().toStdString(), degree_->text().toStdString(),
                                             gamma_->text().toStdString(), coefS_->text().toStdString(),
                                             coefC_->text().toStdString())) {
        showStepMessage(this, *refusal);
        return;
    }
    // The dialog stays open when params.dat or fsinfo.dat cannot be written.
    if (auto failure = model_.accept()) {
        showStepMessage(this, *failure);
        return;
    }
    QDialog::accept();
}

}  // namespace kestrel
