#include "BilateralFilter.h"

#include "RowBands.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr float kRangeRate = 0.05f;
// Both work buffers of one slab together aim below this, but a slab is never
// thinner than kMinSlabRows, whose halo rows would otherwise dominate.
constexpr double kSlabBudgetBytes = 32.0 * 1024 * 1024;
constexpr int kMinSlabRows = 8;
// Rows a slab reads beyond its own on each side: two three-tap passes along rows.
constexpr int kRowHalo = 2;

struct GridShape {
    // Pixels per grid cell; 2 or 4 at full size, fractional for a reduced image.
    float spatialRate;
    int padXY;
    int padZ;
    int rows;
    int cols;
    int depth;
    float minValue;

    // Splat indices are kept off the outer faces, which the blur never writes.
    int splatRow(int y) const { return std::min(nearestCell(y) + padXY, rows - 2); }
    int splatCol(int x) const { return std::min(nearestCell(x) + padXY, cols - 2); }
    int nearestCell(int pixel) const { return static_cast<int>(static_cast<float>(pixel) / spatialRate + 0.5f); }
    // Grid position of a pixel row or column when slicing.
    float slicePosition(int pixel) const { return static_cast<float>(pixel) / spatialRate + padXY; }
    // The first pixel whose slice position is at or after grid cell `cell`, in the
    // same float arithmetic as the slice, so that slabs share no row and miss none.
    int firstPixelAt(int cell) const
    {
        int pixel = static_cast<int>(std::ceil((cell - padXY) * spatialRate));
        while (static_cast<int>(slicePosition(pixel - 1)) >= cell)
            --pixel;
        while (static_cast<int>(slicePosition(pixel)) < cell)
            ++pixel;
        return pixel;
    }
    int splatDepth(float v) const
    {
        return std::min(static_cast<int>((v - minValue) / kRangeRate + 0.5f) + padZ, depth - 2);
    }
};

// Depth cells [low, high] of one grid column (one row and column of the grid)
// outside which a buffer holds only zeros; empty when low > high.
struct Occupied {
    int low = std::numeric_limits<int>::max();
    int high = -1;

    void add(const Occupied& other)
    {
        low = std::min(low, other.low);
        high = std::max(high, other.high);
    }
};

// Grid rows [firstRow, firstRow + rowCount) and depth cells [firstZ, firstZ + depthCount)
// of two (sum, count) buffers; cells outside are zero. Each buffer knows, per grid
// column, the depth cells it may hold non-zero values in: a picture's values at one
// place span far fewer cells than the whole depth, and a blur of zeros is zero.
struct Slab {
    int firstRow = 0;
    int rowCount = 0;
    int firstZ = 0;
    int depthCount = 0;
    int cols = 0;
    std::vector<float> grid;
    std::vector<float> work;
    std::vector<Occupied> gridOccupied;
    std::vector<Occupied> workOccupied;

    size_t index(int row, int col, int z) const
    {
        return ((static_cast<size_t>(row - firstRow) * cols + col) * depthCount + (z - firstZ)) * 2;
    }
    size_t column(int row, int col) const { return static_cast<size_t>(row - firstRow) * cols + col; }
    bool holdsRow(int row) const { return row >= firstRow && row < firstRow + rowCount; }
};

// One three-tap pass along an axis (0 rows, 1 columns, 2 depth): to = (from[-1] +
// from[+1] + 2 from) / 4 over the given rows, the interior columns and depth cells
// [zLow, zHigh]. Cells that are zero in `to` and whose three inputs are zero are
// skipped: they would be written as zero again.
void blurPass(const Slab& slab, const float* from, const std::vector<Occupied>& fromOccupied, float* to,
              std::vector<Occupied>& toOccupied, int axis, int rowLow, int rowHigh, int zLow, int zHigh)
{
    const size_t strides[3] = {static_cast<size_t>(slab.cols) * slab.depthCount * 2,
                               static_cast<size_t>(slab.depthCount) * 2, 2};
    const size_t stride = strides[axis];
    const size_t neighbour = axis == 0 ? slab.cols : 1;
    for (int row = rowLow; row < rowHigh; ++row)
        for (int col = 1; col < slab.cols - 1; ++col) {
            const size_t here = slab.column(row, col);
            Occupied reached = fromOccupied[here];
            if (axis == 2) {
                reached.low -= 1;
                reached.high += 1;
            } else {
                reached.add(fromOccupied[here - neighbour]);
                reached.add(fromOccupied[here + neighbour]);
            }
            reached.low = std::max(reached.low, zLow);
            reached.high = std::min(reached.high, zHigh);
            Occupied written = reached;
            written.add(toOccupied[here]);
            toOccupied[here] = reached;
            const int low = std::max(written.low, zLow);
            const int high = std::min(written.high, zHigh);
            if (low > high)
                continue;
            const size_t base = slab.index(row, col, low);
            const float* centre = from + base;
            float* target = to + base;
            const size_t span = static_cast<size_t>(high - low + 1) * 2;
            for (size_t k = 0; k < span; ++k)
                target[k] = (centre[k - stride] + centre[k + stride] + 2.0f * centre[k]) * 0.25f;
        }
}

// One axis of a trilinear read: the cells either side of a grid position, as
// offsets into a slab, and the weights of the two.
struct Axis {
    size_t offsets[2];
    double weights[2];
};

// `scale` converts a cell index into its offset in the slab.
Axis axisAt(float position, int size, int first, size_t scale)
{
    const int i = std::min(static_cast<int>(position), size - 1);
    const double fraction = position - i;
    return {{(i - first) * scale, (std::min(i + 1, size - 1) - first) * scale}, {1.0 - fraction, fraction}};
}

cv::Vec2f trilinearInterpolate(const Slab& slab, const Axis& y, const Axis& x, const Axis& z)
{
    double sum = 0.0;
    double count = 0.0;
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b)
            for (int c = 0; c < 2; ++c) {
                const double weight = y.weights[a] * x.weights[b] * z.weights[c];
                const float* cell = &slab.grid[y.offsets[a] + x.offsets[b] + z.offsets[c]];
                sum += weight * cell[0];
                count += weight * cell[1];
            }
    return {static_cast<float>(sum), static_cast<float>(count)};
}

// Source rows [low, high), of which those splatting into the slab's rows are read.
struct SourceRows {
    int low;
    int high;
};

// Depth cells the slab's finite samples fall in; high < 0 when there is none.
Occupied sampleDepths(const cv::Mat& src, const GridShape& shape, const Slab& slab, SourceRows rows)
{
    Occupied depths;
    depths.low = shape.depth;
    for (int y = rows.low; y < rows.high; ++y) {
        if (!slab.holdsRow(shape.splatRow(y)))
            continue;
        const float* row = src.ptr<float>(y);
        for (int x = 0; x < src.cols; ++x)
            if (std::isfinite(row[x])) {
                const int gz = shape.splatDepth(row[x]);
                depths.add({gz, gz});
            }
    }
    return depths;
}

// Zeroed buffers for the depths reached: two depth passes spread each sample two
// cells, and one more cell of zeros bounds the reads. The buffers come zero from
// the slab before (clearSlab) or fresh, and never shrink.
void allocateSlab(Slab& slab, const GridShape& shape, const Occupied& depths)
{
    slab.firstZ = std::max(0, depths.low - 3);
    slab.depthCount = std::min(shape.depth - 1, depths.high + 3) - slab.firstZ + 1;
    const size_t cells = static_cast<size_t>(slab.rowCount) * slab.cols * slab.depthCount * 2;
    if (cells > slab.grid.size()) {
        // The old buffers go first, so that old and new are never held at once.
        slab.grid = std::vector<float>();
        slab.work = std::vector<float>();
        slab.grid.resize(cells);
        slab.work.resize(cells);
    }
    slab.gridOccupied.assign(static_cast<size_t>(slab.rowCount) * slab.cols, Occupied());
    slab.workOccupied.assign(slab.gridOccupied.size(), Occupied());
}

// Zeroes the cells that hold values, which lie in each buffer's occupied depths,
// so that the next slab can take the buffers over without filling them whole.
void clearSlab(Slab& slab)
{
    const int lastZ = slab.firstZ + slab.depthCount - 1;
    for (const bool isGrid : {true, false}) {
        std::vector<float>& cells = isGrid ? slab.grid : slab.work;
        const std::vector<Occupied>& occupied = isGrid ? slab.gridOccupied : slab.workOccupied;
        for (int row = slab.firstRow; row < slab.firstRow + slab.rowCount; ++row)
            for (int col = 0; col < slab.cols; ++col) {
                const Occupied& depths = occupied[slab.column(row, col)];
                const int low = std::max(depths.low, slab.firstZ);
                const int high = std::min(depths.high, lastZ);
                if (low <= high)
                    std::fill_n(cells.begin() + slab.index(row, col, low), (high - low + 1) * 2, 0.0f);
            }
    }
}

// Slabs whose buffers are zero again, for the next slabs to take over: fresh
// buffers would be mapped, zero-faulted and filled anew for every slab.
class SlabPool {
public:
    std::unique_ptr<Slab> take()
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (free_.empty())
            return std::make_unique<Slab>();
        std::unique_ptr<Slab> slab = std::move(free_.back());
        free_.pop_back();
        return slab;
    }
    void give(std::unique_ptr<Slab> slab)
    {
        const std::lock_guard<std::mutex> guard(lock_);
        free_.push_back(std::move(slab));
    }

private:
    std::mutex lock_;
    std::vector<std::unique_ptr<Slab>> free_;
};

void splat(Slab& slab, const cv::Mat& src, const GridShape& shape, SourceRows rows)
{
    // Every row splats into the same columns.
    std::vector<int> columns(src.cols);
    for (int x = 0; x < src.cols; ++x)
        columns[x] = shape.splatCol(x);
    for (int y = rows.low; y < rows.high; ++y) {
        const int gy = shape.splatRow(y);
        if (!slab.holdsRow(gy))
            continue;
        const float* row = src.ptr<float>(y);
        for (int x = 0; x < src.cols; ++x) {
            const float v = row[x];
            if (!std::isfinite(v))
                continue;
            const int gz = shape.splatDepth(v);
            float* cell = &slab.grid[slab.index(gy, columns[x], gz)];
            cell[0] += v;
            cell[1] += 1.0f;
            slab.gridOccupied[slab.column(gy, columns[x])].add({gz, gz});
        }
    }
}

// Two passes along each axis, for grid rows [outLow, outHigh); the result is in grid.
void blurSlab(Slab& slab, const GridShape& shape, int outLow, int outHigh)
{
    // Only interior cells are written; the outer faces of the grid stay zero.
    const int zLow = std::max(1, slab.firstZ + 1);
    const int zHigh = std::min(shape.depth - 2, slab.firstZ + slab.depthCount - 2);
    const int interiorLow = std::max(1, slab.firstRow);
    const int interiorHigh = std::min(shape.rows - 1, slab.firstRow + slab.rowCount);
    for (int axis = 0; axis < 3; ++axis)
        for (int pass = 0; pass < 2; ++pass) {
            // Along rows the first pass also feeds the halo rows the second pass reads.
            const int halo = axis == 0 && pass == 0 ? 1 : 0;
            std::swap(slab.grid, slab.work);
            std::swap(slab.gridOccupied, slab.workOccupied);
            blurPass(slab, slab.work.data(), slab.workOccupied, slab.grid.data(), slab.gridOccupied, axis,
                     std::max(interiorLow, outLow - halo), std::min(interiorHigh, outHigh + halo), zLow, zHigh);
        }
}

// Each finite pixel of the rows becomes the blurred grid's sum over count at its
// place; non-finite pixels and those no sample reached keep their value.
void slice(const Slab& slab, const GridShape& shape, const cv::Mat& src, cv::Mat& dst, SourceRows rows)
{
    const size_t columnStride = static_cast<size_t>(slab.depthCount) * 2;
    const size_t rowStride = columnStride * slab.cols;
    // Every row reads the same columns.
    std::vector<Axis> columnAxes(src.cols);
    for (int x = 0; x < src.cols; ++x)
        columnAxes[x] = axisAt(shape.slicePosition(x), shape.cols, 0, columnStride);
    for (int y = rows.low; y < rows.high; ++y) {
        const float* in = src.ptr<float>(y);
        float* out = dst.ptr<float>(y);
        const Axis rowAxis = axisAt(shape.slicePosition(y), shape.rows, slab.firstRow, rowStride);
        for (int x = 0; x < src.cols; ++x) {
            const float v = in[x];
            if (!std::isfinite(v)) {
                out[x] = v;
                continue;
            }
            const float gz = (v - shape.minValue) / kRangeRate + shape.padZ;
            const Axis depthAxis = axisAt(gz, shape.depth, slab.firstZ, 2);
            const cv::Vec2f cell = trilinearInterpolate(slab, rowAxis, columnAxes[x], depthAxis);
            out[x] = cell[1] > 0.0f ? cell[0] / cell[1] : v;
        }
    }
}

// Filters the pixels whose slice row lies in [sliceLow, sliceHigh).
// The slab's buffers are zero before and after.
void filterSlab(const cv::Mat& src, cv::Mat& dst, const GridShape& shape, int sliceLow, int sliceHigh, Slab& slab)
{
    const int outHigh = std::min(sliceHigh + 1, shape.rows);  // slicing reads one row further
    slab.firstRow = std::max(0, sliceLow - kRowHalo);
    slab.rowCount = std::min(shape.rows, outHigh + kRowHalo) - slab.firstRow;
    slab.cols = shape.cols;
    // Splatting reads one grid row more on each side than the slab holds.
    const SourceRows splatted{std::max(0, shape.firstPixelAt(slab.firstRow - 1)),
                              std::min(src.rows, shape.firstPixelAt(slab.firstRow + slab.rowCount + 1))};
    const SourceRows sliced{std::max(0, shape.firstPixelAt(sliceLow)),
                            std::min(src.rows, shape.firstPixelAt(sliceHigh))};

    const Occupied depths = sampleDepths(src, shape, slab, splatted);
    if (depths.high < 0) {
        // Nothing splats here, so every pixel sliced here is non-finite.
        if (sliced.low < sliced.high)
            src.rowRange(sliced.low, sliced.high).copyTo(dst.rowRange(sliced.low, sliced.high));
        return;
    }
    allocateSlab(slab, shape, depths);
    splat(slab, src, shape, splatted);
    blurSlab(slab, shape, sliceLow, outHigh);
    slice(slab, shape, src, dst, sliced);
    clearSlab(slab);
}

// Pixels per grid cell for an image whose shorter side is `shorterSide` pixels at
// `scale` of the full size: the full size's rate scaled, but never below a pixel,
// which would only leave cells empty.
float spatialRate(int shorterSide, float scale)
{
    if (!(scale > 0.0f) || scale >= 1.0f)
        return shorterSide < 1024 ? 2.0f : 4.0f;
    const float fullRate = shorterSide / scale < 1024.0f ? 2.0f : 4.0f;
    return std::max(1.0f, fullRate * scale);
}

// Smallest and largest finite value; (0, 0) when there is none. Band by band: a
// whole-image search runs on one thread.
void finiteRange(const cv::Mat& src, double& minValue, double& maxValue)
{
    std::mutex lock;
    bool any = false;
    minValue = maxValue = 0.0;
    forEachRowBand(src.rows, [&](const cv::Range& rows) {
        const cv::Mat band = src.rowRange(rows);
        double low = 0.0;
        double high = 0.0;
        if (cv::checkRange(band)) {
            cv::minMaxLoc(band, &low, &high);
        } else {
            const cv::Mat finite = cv::abs(band) <= std::numeric_limits<float>::max();
            if (cv::countNonZero(finite) == 0)
                return;
            cv::minMaxLoc(band, &low, &high, nullptr, nullptr, finite);
        }
        const std::lock_guard<std::mutex> guard(lock);
        minValue = any ? std::min(minValue, low) : low;
        maxValue = any ? std::max(maxValue, high) : high;
        any = true;
    });
}

// One plane's grid and how its rows are cut into slabs.
struct PlaneJob {
    const cv::Mat* src;
    cv::Mat* dst;
    GridShape shape;
    int slabRows;
    int slabCount;
};

PlaneJob planPlane(const cv::Mat& src32, cv::Mat& dst32, float sigmaRange, float sigmaSpace, int maxSlabRows,
                   float spatialScale)
{
    PlaneJob job{&src32, &dst32, GridShape(), 1, 0};
    if (src32.empty())
        return job;
    double minValue = 0.0;
    double maxValue = 0.0;
    finiteRange(src32, minValue, maxValue);

    GridShape& shape = job.shape;
    shape.spatialRate = spatialRate(std::min(src32.rows, src32.cols), spatialScale);
    shape.padXY = static_cast<int>(2.0 * (static_cast<double>(sigmaSpace) / shape.spatialRate) + 1.0);
    shape.padZ = static_cast<int>(2.0 * (static_cast<double>(sigmaRange) / kRangeRate) + 1.0);
    shape.padXY = std::max(shape.padXY, 1);
    shape.padZ = std::max(shape.padZ, 1);
    shape.rows = static_cast<int>((src32.rows - 1) / shape.spatialRate) + 2 * shape.padXY + 1;
    shape.cols = static_cast<int>((src32.cols - 1) / shape.spatialRate) + 2 * shape.padXY + 1;
    shape.depth = static_cast<int>((maxValue - minValue) / kRangeRate) + 2 * shape.padZ + 1;
    shape.minValue = static_cast<float>(minValue);

    int slabRows = maxSlabRows;
    if (slabRows <= 0) {
        const double rowBytes = 2.0 * shape.cols * shape.depth * 2 * sizeof(float);
        const int fitting = std::max(1, static_cast<int>(kSlabBudgetBytes / rowBytes) - 2 * kRowHalo - 1);
        const int perThread = (shape.rows + 2 * cv::getNumThreads() - 1) / (2 * cv::getNumThreads());
        slabRows = std::max(kMinSlabRows, std::min(fitting, perThread));
    }
    job.slabRows = slabRows;
    job.slabCount = (shape.rows + slabRows - 1) / slabRows;
    return job;
}

// Every slab of every plane in one parallel pass, so that no plane's last slab
// leaves threads idle.
void runPlaneJobs(const std::vector<PlaneJob>& jobs)
{
    std::vector<int> firstSlab;
    int slabCount = 0;
    for (const PlaneJob& job : jobs) {
        firstSlab.push_back(slabCount);
        slabCount += job.slabCount;
    }
    SlabPool pool;
    cv::parallel_for_(
        cv::Range(0, slabCount),
        [&](const cv::Range& range) {
            std::unique_ptr<Slab> buffers = pool.take();
            for (int index = range.start; index < range.end; ++index) {
                const size_t j = std::upper_bound(firstSlab.begin(), firstSlab.end(), index) - firstSlab.begin() - 1;
                const PlaneJob& job = jobs[j];
                const int slab = index - firstSlab[j];
                filterSlab(*job.src, *job.dst, job.shape, slab * job.slabRows,
                           std::min(job.shape.rows, (slab + 1) * job.slabRows), *buffers);
            }
            pool.give(std::move(buffers));
        },
        slabCount);
}

}  // namespace

namespace cv_extend {

void bilateralFilter(cv::InputArray src, cv::OutputArray dst, float sigmaRange, float sigmaSpace, float spatialScale)
{
    const cv::Mat source = src.getMat();
    if (source.channels() != 1)
        cv::error(cv::Error::StsAssert, "src.channels() == 1", "cv_extend::bilateralFilter", __FILE__, __LINE__);
    cv::Mat source32;
    if (source.depth() == CV_32F)
        source32 = source;
    else
        source.convertTo(source32, CV_32F);
    dst.create(source.size(), source.type());
    cv::Mat result = dst.getMat();
    // Filtered straight into dst unless its depth differs or it is src itself.
    const bool direct = result.depth() == CV_32F && result.data != source32.data;
    cv::Mat result32 = direct ? result : cv::Mat(source.size(), CV_32FC1);
    bilateralFilterGrid(source32, result32, sigmaRange, sigmaSpace, 0, spatialScale);
    if (!direct)
        result32.convertTo(result, source.type());
}

void bilateralFilterGrid(const cv::Mat& src32, cv::Mat& dst32, float sigmaRange, float sigmaSpace, int maxSlabRows,
                         float spatialScale)
{
    runPlaneJobs({planPlane(src32, dst32, sigmaRange, sigmaSpace, maxSlabRows, spatialScale)});
}

void bilateralFilterPlanes(const cv::Mat* src32, cv::Mat* dst32, int count, float sigmaRange, float sigmaSpace,
                           float spatialScale)
{
    std::vector<PlaneJob> jobs;
    for (int i = 0; i < count; ++i)
        jobs.push_back(planPlane(src32[i], dst32[i], sigmaRange, sigmaSpace, 0, spatialScale));
    runPlaneJobs(jobs);
}

}  // namespace cv_extend
