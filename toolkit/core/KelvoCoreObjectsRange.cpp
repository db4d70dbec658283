#include "KelvoCoreObjectsRange.h"

#include "PlatformFixed.h"

Kelvo_NumericalRange& Kelvo_NumericalRange::operator=(const Kelvo_NumericalRange& other) {
    if (&other == this) return *this;
    defaultStatus();
    _start = other._start;
    _end = other._end;
    _scale = other._scale;
    return *this;
}

void Kelvo_NumericalRange::defaultStatus() {
    _start = 0.0;
    _end = 0.0;
    _scale = 1.0;
}

Kelvo_QTObj* Kelvo_NumericalRange::clone() {
    return new Kelvo_NumericalRange(*this);
}

void Kelvo_NumericalRange::operator()(double a, double b) {
    _start = _scale * a;
    _end = _scale * b;
}

Fixed Kelvo_NumericalRange::getFixedStart() const {
    return X2Fix(_start);
}

Fixed Kelvo_NumericalRange::getFixedEnd() const {
    return X2Fix(_end);
}

void Kelvo_NumericalRange::setFixedStart(Fixed f) {
    _start = Fix2X(f) * _scale;
}

void Kelvo_NumericalRange::setFixedEnd(Fixed f) {
    _end = Fix2X(f) * _scale;
}

void Kelvo_NumericalRange::setScale(double s) {
    if (s == 0.0 || s == _scale) return;
    double factor = _scale / s;
    _start *= factor;
    _end *= factor;
    _scale = s;
}
