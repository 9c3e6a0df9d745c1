#pragma once
// The analysis view: the loaded flight as up to three charts on one time axis, each with a left and
// an optional right quantity chosen by the user (and remembered), one cursor across them, marks A
// and B with what changed between them, the findings beside them. It follows every new load.

#include "core/flight/FindingGroups.h"
#include "core/flight/Findings.h"
#include "gui/analysis/AnalysisCharts.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"

#include <memory>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QListView;
class QPainter;
class QPushButton;
class QScrollArea;
class QTimer;

namespace korvel {

class FindingsModel;

class FrmAnalysis : public ChildWindow {
    Q_OBJECT
public:
    FrmAnalysis(WindowContext context, QWidget *parent = nullptr);
    ~FrmAnalysis() override;

    AnalysisCharts *charts() const { return m_charts; }

    // Every chart zoomed to records first to last with a margin, the cursor on record `cursor`.
    void showRecords(int first, int last, int cursor);

    // Reads the loaded flight anew (a load has completed).
    void reload();

    bool saveImage(const QString &fileName) const;
    void saveImageAs();
    void print();
    // The loaded flight's one-page report, as a PDF where the user chooses.
    void saveReport();
    // The picture saved or printed: a title line (aircraft, date, file, span shown) over the charts.
    QSize pictureSize() const;
    void paintPicture(QPainter &painter) const;
    QString titleLine() const;

    QString headingText() const;
    QString problemsText() const;
    QString marksText() const;

    // The loaded flight's findings, once the scan begun by the load has read every record.
    bool findingsReady() const { return !m_scanner && (m_grouped || !m_columns || m_columns->records() == 0); }
    const std::vector<Finding> &findings() const { return m_findings; }
    // As the list shows them: a kind on several cylinders within a minute is one line.
    const std::vector<FindingGroup> &findingGroups() const { return m_groups; }

signals:
    // The user asked for the flight library (nothing is loaded yet).
    void libraryRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // The parts of the window, top to bottom: the chart choices, the heading with the commands on
    // the whole view, the findings beside the charts.
    void buildChoices();
    QHBoxLayout *buildHeading();
    QWidget *buildFindings();
    void chartsChosen();
    void updateMarks();
    void updateProblems();
    void startFindings();
    void scanSome();
    void showFinding(int row);
    void showContextMenu(const QPoint &globalPos);
    std::vector<ChartChoice> storedChoice() const; // all three charts' choices
    int storedCount() const;
    void arrangeChoices();
    void arrangeCommands();
    void fitMarks();

    WindowContext m_context;
    std::unique_ptr<FlightColumns> m_columns;
    AnalysisCharts *m_charts = nullptr;
    QComboBox *m_count = nullptr;
    QComboBox *m_left[AnalysisCharts::kMaxCharts] = {};
    QComboBox *m_right[AnalysisCharts::kMaxCharts] = {};
    QWidget *m_choice[AnalysisCharts::kMaxCharts] = {}; // a chart's label and its two boxes
    QWidget *m_choices = nullptr;                       // the rows of chart choices
    QHBoxLayout *m_choiceRows[AnalysisCharts::kMaxCharts] = {};
    QHBoxLayout *m_headingRow = nullptr;
    QHBoxLayout *m_commandsRow = nullptr; // the commands under the heading on a narrow window
    QHBoxLayout *m_commands = nullptr;    // the commands on the whole view, off with no flight
    QPushButton *m_openLibrary = nullptr;
    QScrollArea *m_marksArea = nullptr;
    QLabel *m_file = nullptr;
    QLabel *m_marks = nullptr;
    QLabel *m_problems = nullptr;

    QWidget *m_findingsColumn = nullptr;
    QListView *m_findingsList = nullptr;
    FindingsModel *m_findingsModel = nullptr;
    // The findings are read in slices between paints: a long flight draws at once and stays
    // responsive while they are found.
    std::unique_ptr<FindingsScanner> m_scanner;
    int m_scanned = 0;
    QTimer *m_scanTimer = nullptr;
    std::vector<Finding> m_findings;
    std::vector<FindingGroup> m_groups;
    bool m_grouped = false;
    // The finding last shown and the span it gave: the click that follows the press that made
    // it current is the same choice, not a second zoom level.
    int m_shownFinding = -1;
    std::pair<double, double> m_shownSpan;
};

} // namespace korvel
