// Workbooks built to exhaust memory (millions of rows, huge tokens, shared
// strings repeated into every cell) are refused as soon as a bound is
// reached, in a bounded amount of memory; what a workbook may hold within
// the bounds reads back exactly.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <functional>

#include "TestSupport.h"
#include "common/ResourceUsage.h"
#include "evaluate/WorkbookReader.h"

namespace kestrel {
namespace {

using kestrel::testing::TempDir;

// Writes a member of a workbook piece by piece: `fill` is called with a
// writer until it returns false, so the member never lies in memory whole.
using Writer = std::function<void(std::string_view)>;
struct Member {
    std::string name;
    std::function<void(const Writer&)> fill;
};

Member fixed(std::string name, std::string text) {
    return {std::move(name), [text = std::move(text)](const Writer& write) { write(text); }};
}

void writeArchive(const std::string& path, const std::vector<Member>& members) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const Member& member : members) {
        ASSERT_EQ(zipOpenNewFileInZip(zip, member.name.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                      Z_BEST_SPEED),
                  ZIP_OK);
        std::string pending;
        member.fill([&](std::string_view piece) {
            pending += piece;
            if (pending.size() >= (1u << 20)) {
                zipWriteInFileInZip(zip, pending.data(), static_cast<unsigned>(pending.size()));
                pending.clear();
            }
        });
        zipWriteInFileInZip(zip, pending.data(), static_cast<unsigned>(pending.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
}

// A workbook of the given sheets (parts xl/worksheets/sheetN.xml) and
// shared strings.
std::vector<Member> workbookOf(std::vector<std::function<void(const Writer&)>> sheets,
                               std::function<void(const Writer&)> sharedStrings = {}) {
    std::string list, rels;
    std::vector<Member> members;
    for (size_t i = 1; i <= sheets.size(); ++i) {
        const std::string n = std::to_string(i);
        list += "<sheet name=\"s" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        members.push_back({"xl/worksheets/sheet" + n + ".xml", [fill = sheets[i - 1]](const Writer& write) {
                               write("<worksheet><sheetData>");
                               fill(write);
                               write("</sheetData></worksheet>");
                           }});
    }
    members.push_back(fixed("xl/workbook.xml", "<?xml version=\"1.0\"?><workbook xmlns:r=\"r\"><sheets>" + list +
                                                   "</sheets></workbook>"));
    members.push_back(fixed("xl/_rels/workbook.xml.rels", "<Relationships>" + rels + "</Relationships>"));
    if (sharedStrings)
        members.push_back({"xl/sharedStrings.xml", [sharedStrings](const Writer& write) {
                               write("<sst>");
                               sharedStrings(write);
                               write("</sst>");
                           }});
    return members;
}

// Reads the workbook in a child process; the message of the refusal ("" when
// it was read) and the child's peak memory above what it started with.
struct Reading {
    std::string message;
    uint64_t grownBytes = 0;
};

Reading readInChild(const std::string& path) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {"pipe failed", 0};
    const uint64_t before = residentBytes();
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        const Result<std::vector<WorkbookSheet>> read = readWorkbook(path);
        const std::string message = read ? std::string() : read.message();
        (void)!::write(pipeFds[1], message.data(), message.size());
        _exit(0);
    }
    close(pipeFds[1]);
    Reading reading;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) reading.message.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader died";
    const uint64_t peak = static_cast<uint64_t>(usage.ru_maxrss) * 1024;
    reading.grownBytes = peak > before ? peak - before : 0;
    return reading;
}

void repeat(const Writer& write, size_t times, const std::function<std::string(size_t)>& piece) {
    for (size_t i = 0; i < times; ++i) write(piece(i));
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr uint64_t kMemoryBound = 400ull << 20;

TEST(WorkbookBounds, HostileWorkbooksAreRefusedInBoundedMemory) {
    TempDir dir;
    // Three sheets of 700,000 cells, each the same shared string: past the
    // cells a workbook may hold, all sheets together.
    const auto manyCells = [](const Writer& write) {
        std::string row = "<row>";
        for (int c = 0; c < 1000; ++c) row += "<c t=\"s\"><v>0</v></c>";
        row += "</row>";
        repeat(write, 700, [&row](size_t) { return row; });
    };
    writeArchive(dir.path("rows.xlsx"), workbookOf({manyCells, manyCells, manyCells},
                                                   [](const Writer& write) { write("<si><t>x</t></si>"); }));
    Reading r = readInChild(dir.path("rows.xlsx"));
    EXPECT_TRUE(contains(r.message, std::to_string(kMaxWorkbookCells))) << r.message;
    EXPECT_LT(r.grownBytes, kMemoryBound);

    // One shared string of a MB put into a hundred cells: past the text a
    // workbook may hold, long before it is all copied.
    writeArchive(dir.path("repeated.xlsx"),
                 workbookOf({[](const Writer& write) {
                                repeat(write, 100, [](size_t) { return "<row><c t=\"s\"><v>0</v></c></row>"; });
                            }},
                            [](const Writer& write) { write("<si><t>" + std::string(1u << 20, 'y') + "</t></si>"); }));
    r = readInChild(dir.path("repeated.xlsx"));
    EXPECT_TRUE(contains(r.message, "单元格的文字超过 64 MB")) << r.message;
    EXPECT_LT(r.grownBytes, kMemoryBound);

    // Shared strings past their bound, and a single tag of 2 MB.
    writeArchive(dir.path("strings.xlsx"),
                 workbookOf({[](const Writer&) {}}, [](const Writer& write) {
                     repeat(write, 80, [](size_t) { return "<si><t>" + std::string(1u << 20, 'z') + "</t></si>"; });
                 }));
    r = readInChild(dir.path("strings.xlsx"));
    EXPECT_TRUE(contains(r.message, "共享字符串超过 64 MB")) << r.message;
    EXPECT_LT(r.grownBytes, kMemoryBound);
    writeArchive(dir.path("tag.xlsx"), workbookOf({[](const Writer& write) {
                     write("<row><c t=\"inlineStr\" x=\"");
                     repeat(write, 2, [](size_t) { return std::string(1u << 20, 'a'); });
                     write("\"/></row>");
                 }}));
    r = readInChild(dir.path("tag.xlsx"));
    EXPECT_TRUE(contains(r.message, "超过 1 MB 的标记")) << r.message;
    EXPECT_LT(r.grownBytes, kMemoryBound);
}

// Rows without a number follow the one before: the last row of a sheet is
// read, the one after it is refused while reading (not when written back).
TEST(WorkbookBounds, RowsWithoutNumbersStopAtTheLastRow) {
    TempDir dir;
    const auto emptyRowsThenCell = [](size_t emptyRows) {
        return [emptyRows](const Writer& write) {
            repeat(write, emptyRows / 1000, [](size_t) {
                std::string rows;
                for (int i = 0; i < 1000; ++i) rows += "<row/>";
                return rows;
            });
            repeat(write, emptyRows % 1000, [](size_t) { return std::string("<row/>"); });
            write("<row><c t=\"inlineStr\"><is><t>last</t></is></c></row>");
        };
    };
    writeArchive(dir.path("fits.xlsx"), workbookOf({emptyRowsThenCell(kMaxWorkbookRows - 1)}));
    const Result<std::vector<WorkbookSheet>> fits = readWorkbook(dir.path("fits.xlsx"));
    ASSERT_TRUE(fits.ok()) << fits.message();
    ASSERT_EQ((*fits)[0].rows.size(), 1u);
    EXPECT_EQ((*fits)[0].rows[0].index, kMaxWorkbookRows - 1);
    EXPECT_EQ((*fits)[0].rows[0].cells[0].text, "last");

    writeArchive(dir.path("over.xlsx"), workbookOf({emptyRowsThenCell(kMaxWorkbookRows)}));
    const Result<std::vector<WorkbookSheet>> over = readWorkbook(dir.path("over.xlsx"));
    EXPECT_FALSE(over.ok());
    EXPECT_TRUE(contains(over.message(), "超过 1048576 行")) << over.message();
}

// What other writers put in a workbook reads as the cell values: rich text
// runs without their phonetic runs, inline strings, entities and CDATA,
// blanks kept, prefixed names, and a later cell of the same place winning.
TEST(WorkbookBounds, CellValuesReadAsStored) {
    TempDir dir;
    writeArchive(dir.path("forms.xlsx"),
                 workbookOf({[](const Writer& write) {
                                write("<row r=\"2\"><c r=\"B2\" t=\"s\"><v>1</v></c><c t=\"s\"><v>0</v></c></row>"
                                      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> a&amp;b "
                                      "</t></is></c><c r=\"B1\"><v>3.5</v></c><c r=\"B1\"><v>4</v></c></row>"
                                      "<x:row><x:c t=\"inlineStr\"><x:is><x:t><![CDATA[<c>]]></x:t></x:is></x:c></x:row>");
                            }},
                            [](const Writer& write) {
                                write("<si><t>plain</t></si><si><r><t>ri</t></r><r><rPr/><t>ch</t></r>"
                                      "<rPh><t>phonetic</t></rPh></si>");
                            }));
    const Result<std::vector<WorkbookSheet>> read = readWorkbook(dir.path("forms.xlsx"));
    ASSERT_TRUE(read.ok()) << read.message();
    const WorkbookSheet& sheet = (*read)[0];
    EXPECT_EQ(sheet.name, "s1");
    EXPECT_EQ(sheet.rowTexts(0), (std::vector<std::string>{" a&b ", "4"}));
    // The unnumbered row follows row 1: its cell is A2.
    EXPECT_EQ(sheet.rowTexts(1), (std::vector<std::string>{"<c>", "rich", "plain"}));
    EXPECT_EQ(sheet.rows.size(), 2u);

    // A document type declaration (entities that expand) is refused.
    std::vector<Member> members = workbookOf({[](const Writer&) {}});
    members[0] = fixed("xl/worksheets/sheet1.xml",
                       "<!DOCTYPE w [<!ENTITY a \"aaaa\">]><worksheet><sheetData><row><c t=\"inlineStr\"><is><t>&a;"
                       "</t></is></c></row></sheetData></worksheet>");
    writeArchive(dir.path("dtd.xlsx"), members);
    const Result<std::vector<WorkbookSheet>> dtd = readWorkbook(dir.path("dtd.xlsx"));
    EXPECT_FALSE(dtd.ok());
    EXPECT_TRUE(contains(dtd.message(), "DTD")) << dtd.message();
}

}  // namespace
}  // namespace kestrel
