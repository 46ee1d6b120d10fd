#pragma once
// The text-representation viewer: the categories of classes.txt, the
// features of features.txt, and the vector of one training document picked
// at random from train.dat.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace kestrel {

class TextClassifier;

class CDlgTP : public QDialog {
    Q_OBJECT
public:
    CDlgTP(const TextClassifier& controller, QWidget* parent = nullptr);
    // `workspacePath` ends with '/'.
    explicit CDlgTP(std::string workspacePath, QWidget* parent = nullptr);

    QTreeWidget* categoryList() const { return categoryList_; }
    QTreeWidget* featureList() const { return featureList_; }
    QTreeWidget* documentList() const { return documentList_; }
    QLineEdit* categoryField() const { return categoryField_; }
    QPushButton* randomButton() const { return randomButton_; }
    // Problems met while reading the workspace (empty when none).
    QString status() const;

    // Picks the first line of train.dat for which nextRandom() % 1000 == 1
    // and shows it. False when train.dat cannot be read or no line was
    // picked (the list is then empty).
    bool randomView(const std::function<uint32_t()>& nextRandom);
    // The same with a generator seeded from the current time.
    bool randomView();

private:
    void loadLists();
    void setStatus(const QString& text);

    std::string workspacePath_;
    QTreeWidget* categoryList_;
    QTreeWidget* featureList_;
    QTreeWidget* documentList_;
    QLineEdit* categoryField_;
    QPushButton* randomButton_;
    QLabel* statusLabel_;
};

}  // namespace kestrel
