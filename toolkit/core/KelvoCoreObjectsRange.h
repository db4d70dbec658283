// A range of two doubles with a scale: value multiplicities, window centre and width, value
// ranges. The setters store scale × value, so a range kept in one unit can be fed in another.
#pragma once

#include "KelvoCoreObjects.h"
#include "PlatformTypes.h"

class Kelvo_NumericalRange : public Kelvo_QTObj {
  public:
    Kelvo_NumericalRange() = default;
    Kelvo_NumericalRange(double start, double end) : _start(start), _end(end) {}
    Kelvo_NumericalRange(const Kelvo_NumericalRange& other)
        : Kelvo_QTObj(other), _start(other._start), _end(other._end), _scale(other._scale) {}
    Kelvo_NumericalRange& operator=(const Kelvo_NumericalRange& other);

    const char* qtObjName() const override { return "Kelvo_NumericalRange"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;

    void operator()(double a, double b);
    void setStart(double x) { _start = _scale * x; }
    void setEnd(double x) { _end = _scale * x; }
    double getStart() const { return _start; }
    double getEnd() const { return _end; }
    double getScale() const { return _scale; }
    double getCenter() const { return (_start + _end) * 0.5; }

    // 16.16 forms; out-of-range values saturate and NaN gives 0.
    Fixed getFixedStart() const;
    Fixed getFixedEnd() const;
    void setFixedStart(Fixed f);
    void setFixedEnd(Fixed f);

    // Re-expresses the stored values in the new scale; 0 and the current scale are ignored.
    void setScale(double s);

    bool operator==(const Kelvo_NumericalRange& other) const {
        return _start == other._start && _end == other._end;
    }
    bool operator!=(const Kelvo_NumericalRange& other) const { return !(*this == other); }

  private:
    double _start = 0.0;
    double _end = 0.0;
    double _scale = 1.0;
};
