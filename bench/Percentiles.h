#pragma once

#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

// Order statistics of a sample set, nearest-rank.
class Percentiles final
{
public:
    void add(double value) { values_.push_back(value); }
    void clear() { values_.clear(); }
    size_t count() const { return values_.size(); }
    bool empty() const { return values_.empty(); }

    // p in [0, 100]; 0 for an empty set.
    double at(double p) const
    {
        if (values_.empty())
            return 0;
        std::vector<double> sorted(values_);
        std::sort(sorted.begin(), sorted.end());
        const double rank = p / 100.0 * double(sorted.size());
        size_t index = rank <= 1 ? 0 : size_t(rank + 0.999999) - 1;
        index = std::min(index, sorted.size() - 1);
        return sorted[index];
    }
    double min() const { return values_.empty() ? 0 : *std::min_element(values_.begin(), values_.end()); }
    double max() const { return values_.empty() ? 0 : *std::max_element(values_.begin(), values_.end()); }
    double mean() const
    {
        if (values_.empty())
            return 0;
        double sum = 0;
        for (double v : values_)
            sum += v;
        return sum / double(values_.size());
    }
    size_t countAbove(double limit) const
    {
        return size_t(std::count_if(values_.begin(), values_.end(), [limit](double v) { return v > limit; }));
    }
    size_t countWithin(double low, double high) const
    {
        return size_t(std::count_if(values_.begin(), values_.end(), [=](double v) { return v >= low && v <= high; }));
    }

    // As the results list a time: median, 99th percentile and maximum, in ms.
    QJsonObject figures() const
    {
        QJsonObject json;
        json.insert(QStringLiteral("p50_ms"), at(50));
        json.insert(QStringLiteral("p99_ms"), at(99));
        json.insert(QStringLiteral("max_ms"), max());
        return json;
    }

private:
    std::vector<double> values_;
};
