// The photodiode types a detector may carry (serial character 12): peak responsivity and the
// relative responsivity curve, a polynomial in the wavelength (nm) per sub-range, coefficients
// highest power first.
#pragma once

#include <cstddef>

namespace zv {

struct ResponsivitySegment {
    double from_nm; // inclusive
    double to_nm;   // exclusive
    int degree;
    double coefficients[9]; // degree + 1 used
};

struct Photodiode {
    char code;
    int peak_nm;
    const ResponsivitySegment *segments; // ascending, adjacent; together the curve's domain
    size_t segment_count;
};

namespace curves {

constexpr ResponsivitySegment kInGaAs[] = {
    {900,
     1130,
     5,
     {4.48121574262e-13, -2.66365071267e-09, 6.29382649657e-06, -0.00739573512297, 4.32592370305,
      -1007.84958217}},
    {1130,
     1600,
     5,
     {-5.09141056237e-14, 3.44519553726e-10, -9.29015537557e-07, 0.00124657642209, -0.830987745379,
      220.608499441}},
    {1600,
     1662.3,
     5,
     {-2.90627318776e-11, 2.3137828183e-07, -0.000736802781366, 1.17308693535, -933.807512026,
      297318.767962}},
    {1662.3,
     1700,
     7,
     {3.25734210186e-16, -1.79833322567e-12, 2.22758450781e-09, 3.33591989148e-06, -0.0055697313368,
      -10.7072300801, 24277.1067482, -12412289.6104}},
};

constexpr ResponsivitySegment kVisible[] = {
    {400,
     1000,
     7,
     {-2.64188075215e-19, 1.34660489246e-15, -2.76515698417e-12, 2.97453553526e-09,
      -1.82795781178e-06, 0.000650613391592, -0.124099728835, 9.8999334189}},
};

constexpr ResponsivitySegment kNearInfrared[] = {
    {400,
     1070,
     8,
     {3.94247533e-21, -2.05953226e-17, 4.58402581e-14, -5.67407466e-11, 4.26972617e-08,
      -2.00015765e-05, 0.00570170307, -0.90458475, 61.2439072}},
};

} // namespace curves

constexpr Photodiode kPhotodiodes[] = {
    {'I', 1550, curves::kInGaAs, sizeof(curves::kInGaAs) / sizeof(curves::kInGaAs[0])},
    {'V', 760, curves::kVisible, sizeof(curves::kVisible) / sizeof(curves::kVisible[0])},
    {'N', 900, curves::kNearInfrared,
     sizeof(curves::kNearInfrared) / sizeof(curves::kNearInfrared[0])},
};

// The photodiode of a serial code, or null when the code is none of the known letters.
inline const Photodiode *find_photodiode(char code) {
    for (const Photodiode &p : kPhotodiodes)
        if (p.code == code) return &p;
    return nullptr;
}

} // namespace zv
