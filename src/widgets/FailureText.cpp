#include "widgets/FailureText.h"

#include <QRegularExpression>
#include <QStringList>
#include <vector>

namespace kestrel {

namespace {

struct Wording {
    QRegularExpression pattern;  // anchored at both ends
    QString chinese;             // %1, %2, … are the pattern's groups
};

// The system's descriptions of the usual file errors (strerror).
QString systemReason(const QString& reason) {
    static const std::pair<const char*, const char*> reasons[] = {
        {"No such file or directory", "没有那个文件或目录"},
        {"Permission denied", "权限不够"},
        {"No space left on device", "设备上没有空间"},
        {"Is a directory", "是一个目录"},
        {"Not a directory", "不是目录"},
        {"Read-only file system", "只读文件系统"},
        {"File exists", "文件已存在"},
        {"Too many open files", "打开的文件过多"},
        {"Disk quota exceeded", "超出磁盘配额"},
        {"Input/output error", "输入/输出错误"},
        {"File name too long", "文件名过长"},
        {"Operation not permitted", "不允许的操作"},
        {"it is a directory", "这是一个目录"},
    };
    for (const auto& [english, chinese] : reasons)
        if (reason == QLatin1String(english)) return QString::fromUtf8(chinese);
    return reason;
}

QString verb(const QString& english) {
    static const std::pair<const char*, const char*> verbs[] = {
        {"read", "读取"}, {"open", "打开"}, {"create", "创建"}, {"write", "写入"}, {"replace", "替换"},
        {"read directory", "读取目录"}, {"read stop-word file", "读取停用词文件"},
        {"read statistics file", "读取统计文件"}, {"read dictionary file", "读取词典文件"},
        {"write statistics file", "写入统计文件"}, {"write dictionary file", "写入词典文件"},
    };
    for (const auto& [e, c] : verbs)
        if (english == QLatin1String(e)) return QString::fromUtf8(c);
    return english;
}

QString stage(const QString& english) {
    static const std::pair<const char*, const char*> stages[] = {
        {"preprocessing", "预处理"}, {"training", "训练"}, {"classification", "分类"},
        {"rough-set reduction", "粗糙集约简"},
    };
    for (const auto& [e, c] : stages)
        if (english == QLatin1String(e)) return QString::fromUtf8(c);
    return english;
}

const std::vector<Wording>& wordings() {
    static const std::vector<Wording> list = [] {
        const std::pair<const char*, const char*> table[] = {
            {"the training corpus directory (.+) does not exist or cannot be read", "训练文档目录 %1 不存在或无法读取"},
            {"the raw corpus directory (.+) does not exist or cannot be read", "原始文档目录 %1 不存在或无法读取"},
            {"no word segmenter is built into this program, so raw text \\(\\*\\.txt\\) cannot be preprocessed",
             "本程序没有内置分词器，无法预处理生文本（*.txt）"},
            {"the segmenter's data \\(coreDict\\.dct\\) was not found; directories tried:(.*)",
             "找不到分词器的数据（coreDict.dct），查找过的目录：%1"},
            {"the segmenter's data is not loaded", "分词器的数据没有载入"},
            {"(statistics|dictionary) file (.+) is damaged: (.+)", "%1文件 %2 已损坏：%3"},
            {"writing (.+) cancelled", "写入 %1 已取消"},
            {"no SVM engine is built into this program", "本程序没有内置SVM引擎"},
            {"no SVM model could be trained", "没有一个类别的SVM模型训练成功"},
            {"no document could be scored with any SVM model", "没有文档能由任何一个SVM模型打分"},
            {"no rough-set reduction exists for the current feature index", "当前的特征索引还没有粗糙集约简"},
            {"the training file (.+) holds no training documents", "训练文件 %1 中没有训练文档"},
            {"the file (.+) holds no document lines", "文件 %1 中没有文档行"},
            {"category (\\d+) has no training document in (.+); no model is trained",
             "类别%1在 %2 中没有训练文档，没有训练模型"},
            {"every training document of (.+) belongs to category (\\d+); a model needs documents of other categories too",
             "%1 中的训练文档全部属于类别%2，模型还需要其他类别的文档"},
            {"training category (\\d+) gave no finite solution \\(check the kernel parameters\\)",
             "类别%1的训练没有得到有限的解（请检查核函数参数）"},
            {"cannot write the model of category (\\d+): (.+)", "无法写入类别%1的模型：%2"},
            {"cannot read the training file for category (\\d+): (.+)", "无法读取类别%1的训练文件：%2"},
            {"(\\d+) lines? of (.+) skipped \\(first: line (\\d+), (.+)\\)", "%2 中跳过了%1行（第一处：第%3行，%4）"},
            {"model file (.+?): (.+)", "模型文件 %1：%2"},
            {"unknown error", "未知错误"},
            {"std::bad_alloc", "内存不足"},
            {"cannot classify: (.+)", "无法分类：%1"},
        };
        std::vector<Wording> out;
        for (const auto& [pattern, chinese] : table)
            out.push_back({QRegularExpression(QRegularExpression::anchoredPattern(QString::fromUtf8(pattern))),
                           QString::fromUtf8(chinese)});
        return out;
    }();
    return list;
}

QString rewordLine(const QString& line) {
    static const QRegularExpression cancelled(QRegularExpression::anchoredPattern(
        QStringLiteral("(preprocessing|training|classification|rough-set reduction) cancelled")));
    // "cannot <verb> <path>: <reason>" and "cannot <verb> <path>".
    static const QRegularExpression withReason(QRegularExpression::anchoredPattern(QStringLiteral(
        "cannot (read directory|read stop-word file|read statistics file|read dictionary file|"
        "write statistics file|write dictionary file|read|open|create|write|replace) (.+): ([^:]+)")));
    static const QRegularExpression withoutReason(QRegularExpression::anchoredPattern(QStringLiteral(
        "cannot (read directory|read stop-word file|read statistics file|read dictionary file|"
        "write statistics file|write dictionary file|read|open|create|write|replace) (.+)")));

    if (const auto m = cancelled.match(line); m.hasMatch()) return stage(m.captured(1)) + QStringLiteral("已取消");
    for (const Wording& w : wordings()) {
        const auto m = w.pattern.match(line);
        if (!m.hasMatch()) continue;
        QString text = w.chinese;
        for (int i = m.lastCapturedIndex(); i >= 1; --i) {
            QString part = m.captured(i);
            if (part == QLatin1String("statistics")) part = QStringLiteral("统计");
            else if (part == QLatin1String("dictionary")) part = QStringLiteral("词典");
            // A nested failure (after a colon) is reworded too.
            else if (i == m.lastCapturedIndex() && i > 1) part = rewordLine(part);
            text.replace(QStringLiteral("%") + QString::number(i), part);
        }
        return text;
    }
    if (const auto m = withReason.match(line); m.hasMatch())
        return QStringLiteral("无法%1 %2：%3").arg(verb(m.captured(1)), m.captured(2), systemReason(m.captured(3)));
    if (const auto m = withoutReason.match(line); m.hasMatch())
        return QStringLiteral("无法%1 %2").arg(verb(m.captured(1)), m.captured(2));
    return line;
}

}  // namespace

QString chineseFailureText(const QString& detail) {
    QStringList lines = detail.split(QLatin1Char('\n'));
    for (QString& line : lines) line = rewordLine(line);
    return lines.join(QLatin1Char('\n'));
}

}  // namespace kestrel
