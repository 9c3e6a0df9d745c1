#pragma once
// The analysis view's reading of a flight: a time axis in seconds and, per series, the readings as
// numbers in one column, with the lowest and highest reading of every block of records so a pixel
// column covering thousands of records is answered without visiting them all.

#include "core/flight/ColumnSource.h"
#include "core/flight/FlightData.h"
#include "core/flight/LargeBlock.h"
#include "core/flight/TimeAxis.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

namespace korvel {

// What a chart axis can show. A quantity is one series or a group of six (a cylinder each).
// A cylinder's quantity draws its EGT on the left axis and its CHT on the right.
enum class Quantity {
    None,
    Egt,
    Cht,
    Rpm,
    OilTemp,
    OilPress,
    Oat,
    Manifold,
    EgtSpread,
    ChtSpread,
    Cylinder1,
    Cylinder2,
    Cylinder3,
    Cylinder4,
    Cylinder5,
    Cylinder6
};
constexpr int kQuantityCount = 16;

// EGT 1-6, CHT 1-6, then one series per engine quantity (the named fields, in their order), then
// the EGT and CHT spreads.
constexpr int kSeriesCount = 19;
constexpr int kRpmSeries = 12;
constexpr int kEgtSpreadSeries = 17;
constexpr int kChtSpreadSeries = 18;

struct QuantityInfo {
    Quantity quantity;
    const char *key;     // as the settings store keeps it
    const char *caption; // as the user picks it
};
const std::array<QuantityInfo, kQuantityCount> &Quantities();
const QuantityInfo &InfoOf(Quantity quantity);
Quantity QuantityFromKey(const QString &key);
// A quantity's unit ("\u00b0F", "psi", ...) and its axis title with the unit ("EGT (\u00b0F)").
QString QuantityUnit(Quantity quantity);
QString AxisTitle(Quantity quantity);
// The quantity reads cylinder-head temperatures, against which the CHT limit stands.
bool QuantityShowsCht(Quantity quantity);

// The series a quantity draws, by series number 0 to kSeriesCount - 1.
std::vector<int> SeriesOf(Quantity quantity);
QString SeriesName(int series);
// The cylinder a series belongs to (1 to 6), 0 for the engine's own series and the spreads.
int SeriesCylinder(int series);
// The cylinder a quantity shows alone (1 to 6), 0 for any other quantity.
int QuantityCylinder(Quantity quantity);
// A series' unit, and a reading of it with its unit ("1450\u00b0F", "2400 rpm", "24.5 inHg").
QString SeriesUnit(int series);
QString ReadingWithUnit(int series, double value);
// The field a series reads and the factor from the recorded number to the drawn one (tenths read as
// whole units), for a reader that goes through the file as it comes.
int SeriesField(int series);
double SeriesScale(int series);

// Column memory: blocks the kernel can back with huge pages, left unwritten until the reading
// writes them (a million records make 70 MB of columns; zeroing them first cost as much as reading).
template <class T> struct ColumnAllocator : LargeAllocator<T> {
    template <class U> struct rebind {
        using other = ColumnAllocator<U>;
    };
    ColumnAllocator() = default;
    template <class U> ColumnAllocator(const ColumnAllocator<U> &) {}
    template <class U> void construct(U *p) noexcept { ::new (static_cast<void *>(p)) U; }
    template <class U, class... Args> void construct(U *p, Args &&...args)
    {
        ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
    }
};
template <class T> using ColumnVector = std::vector<T, ColumnAllocator<T>>;

class SeriesColumn {
public:
    static constexpr int kBlock = 64;
    ColumnVector<float> values; // NaN where the reading is empty or not a number
    std::vector<float> blockLow, blockHigh;
    bool anyReading = false;
    float low = 0, high = 0; // over the whole flight, when anyReading

    void prepareBlocks();
    void buildBlocks(int from, int to); // the blocks of records from to to - 1, from on a block's start
    void finishBlocks();
    ColumnSpan span(int begin, int end) const; // records begin to end - 1
};

class FlightColumns : public ColumnSource {
public:
    // Reads the time of every record and the series of the quantities `first`; other series are
    // read when first asked for.
    explicit FlightColumns(const FlightData &data, const std::vector<Quantity> &first = {});

    int records() const { return m_records; }
    // Seconds since the first record: midnight crossed, never going back.
    const ColumnVector<double> &x() const { return m_x; }
    double start() const { return m_x.empty() ? 0 : m_x.front(); }
    double end() const { return m_x.empty() ? 0 : m_x.back(); }

    // A series' column, read on first use (the table outlives the columns).
    const SeriesColumn &column(int series) const;
    // Reads every series of the quantities not read yet, in one pass over the records.
    void readQuantities(const std::vector<Quantity> &quantities) const;
    // A reading as a number, NaN when empty.
    float value(int series, int record) const { return column(series).values[size_t(record)]; }

    // The record nearest an axis position, -1 without records.
    int nearestRecord(double x) const;
    // The first record at or after x, and the first after x.
    int lowerRecord(double x) const;
    int upperRecord(double x) const;

    // The time axis the records were placed on, and what it reads at a place.
    const TimeAxis &axis() const override { return m_axis; }
    int timeOfDayAt(double x) const { return m_axis.timeOfDayAt(x); }
    // The time of day at a record (of its own clock); with the day in front when asked (for a
    // flight that spans more than one).
    QString timeText(int record, bool withDay = false) const;
    QString timeTextAt(double x, bool withDay = false) const { return m_axis.timeTextAt(x, withDay); }
    bool spansDays() const { return m_axis.spansDays(); }
    QDate dateAt(double x) const { return m_axis.dateAt(x); }
    QString dayTextAt(double x) const { return m_axis.dayTextAt(x); }

    // As a chart draws them.
    qint64 recordCount() const override { return m_records; }
    bool anyReading(int series) const override { return column(series).anyReading; }
    std::optional<double> placeOfRecord(qint64 record) const override;
    void columnSpans(int series, double x0, double x1, int width, std::vector<ColumnSpan> &spans,
                     std::vector<char> &filled) const override;
    bool recordPoints(int series, double x0, double x1, int most, std::vector<double> &places,
                      std::vector<float> &values) const override;
    // The record at each of `width` columns' left edge between x0 and x1, and the one past the last.
    std::vector<int> columnBounds(double x0, double x1, int width) const;

    // What could not be drawn as it stands, as sentences for the user.
    const QStringList &problems() const { return m_problems; }

private:
    void readSeries(const std::vector<int> &series) const;
    void readFields(const std::vector<int> &series) const;
    void buildSpread(int series, int firstCylinderSeries) const;
    void placeRecords();

    const FlightData &m_data;
    int m_records = 0;
    mutable ColumnVector<double> m_x;
    mutable ColumnVector<int> m_timeOfDay; // seconds from midnight, -1 when the record has none
    TimeAxis m_axis;
    mutable bool m_timesPending = false;   // the next pass over the records reads their times too
    mutable std::array<std::unique_ptr<SeriesColumn>, kSeriesCount> m_columns;
    QStringList m_problems;
};

// A reading as the view writes it: whole numbers without decimals, else one decimal.
QString ReadingText(double v);

} // namespace korvel
