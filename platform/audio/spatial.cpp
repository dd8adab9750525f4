// Distance: min / (min + rolloff × (d − min)) beyond the minimum distance,
// held at its value at the maximum distance (or silent with mute-at-max).
// Direction: the azimuth in the listener's frame gives an equal-power
// balance (−3 dB on each side straight ahead or behind). Doppler: the
// relative velocity along the line of sight, in metres through the distance
// factor, shifts the rate. Cones of 360° change nothing.
#include "platform/audio/spatial.h"

#include <cmath>

namespace {

constexpr double kSpeedOfSound = 343.3;  // metres per second
constexpr double kPi = 3.14159265358979323846;

struct Vec {
    double x, y, z;
};

Vec V(const D3DVECTOR& v) { return {v.x, v.y, v.z}; }
Vec Sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double Len(Vec a) { return std::sqrt(Dot(a, a)); }
Vec Scale(Vec a, double s) { return {a.x * s, a.y * s, a.z * s}; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// The listener's right and front axes (left-handed: right = top × front).
// Degenerate orientations fall back to something usable.
void Axes(const DS3DLISTENER& l, Vec* right, Vec* front) {
    Vec f = V(l.vOrientFront);
    double fl = Len(f);
    f = fl > 0.0 ? Scale(f, 1.0 / fl) : Vec{0, 0, 1};
    Vec r = Cross(V(l.vOrientTop), f);
    double rl = Len(r);
    if (rl <= 1e-12) {
        r = Vec{f.z, 0.0, -f.x};  // any horizontal perpendicular
        rl = Len(r);
        if (rl <= 1e-12) r = Vec{1, 0, 0}, rl = 1.0;
    }
    *right = Scale(r, 1.0 / rl);
    *front = f;
}

double DistanceGain(double d, double minD, double maxD, double rolloff, bool muteAtMax) {
    if (d > maxD) {
        if (muteAtMax) return 0.0;
        d = maxD;
    }
    if (d <= minD) return 1.0;
    double denom = minD + rolloff * (d - minD);
    return denom > 0.0 ? minD / denom : 1.0;
}

// Between the inner and the outer cone the attenuation moves linearly in
// hundredths of a decibel towards the outside volume.
double ConeGain(const DS3DBUFFER& b, Vec toListener, double d) {
    if (b.dwInsideConeAngle >= 360 && b.dwOutsideConeAngle >= 360) return 1.0;
    Vec o = V(b.vConeOrientation);
    double ol = Len(o);
    if (ol <= 0.0 || d <= 0.0) return 1.0;
    double c = Dot(toListener, o) / (ol * d);
    double angle = std::acos(c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c)) * 180.0 / kPi;
    double inner = b.dwInsideConeAngle / 2.0;
    double outer = b.dwOutsideConeAngle / 2.0;
    double mb;
    if (angle <= inner)
        mb = 0.0;
    else if (angle >= outer || outer <= inner)
        mb = b.lConeOutsideVolume;
    else
        mb = b.lConeOutsideVolume * (angle - inner) / (outer - inner);
    return std::pow(10.0, mb / 2000.0);
}

}  // namespace

SpatialGains Spatial_Compute(const DS3DBUFFER& b, const DS3DLISTENER& l, bool muteAtMax) {
    SpatialGains g{1.0f, 1.0f, 1.0};
    if (b.dwMode == DS3DMODE_DISABLE) return g;  // heard from the middle of the head

    // The source's offset in the listener's frame: x right, z front.
    Vec rel, relVelocity;
    double x, z;
    if (b.dwMode == DS3DMODE_HEADRELATIVE) {
        rel = V(b.vPosition);
        relVelocity = V(b.vVelocity);
        x = rel.x;
        z = rel.z;
    } else {
        rel = Sub(V(b.vPosition), V(l.vPosition));
        relVelocity = Sub(V(b.vVelocity), V(l.vVelocity));
        Vec right, front;
        Axes(l, &right, &front);
        x = Dot(rel, right);
        z = Dot(rel, front);
    }
    double d = Len(rel);

    double gain = DistanceGain(d, b.flMinDistance, b.flMaxDistance, l.flRolloffFactor, muteAtMax);
    gain *= ConeGain(b, Scale(rel, -1.0), d);

    double h = std::sqrt(x * x + z * z);
    double p = h > 0.0 ? x / h : 0.0;  // −1 full left .. 1 full right
    double phi = (p + 1.0) * kPi / 4.0;
    g.left = (float)(gain * std::cos(phi));
    g.right = (float)(gain * std::sin(phi));

    if (d > 0.0 && l.flDopplerFactor > 0.0f) {
        // Receding (positive) lowers the pitch.
        double away = Dot(relVelocity, rel) / d * l.flDistanceFactor * l.flDopplerFactor;
        if (away < -0.75 * kSpeedOfSound) away = -0.75 * kSpeedOfSound;
        if (away > 3.0 * kSpeedOfSound) away = 3.0 * kSpeedOfSound;
        g.rateScale = kSpeedOfSound / (kSpeedOfSound + away);
    }
    return g;
}
