// Draws the sample photo garden.jpg and its painted depth image garden_.bmp: a
// small garden scene with things at several depths (sky, hills, lawn, a fence, a
// tree, a flower pot and a ball), so that the relief shows layers and, with a
// tear level, breaks apart at their edges.
//
//   qrv-make-samples [FOLDER]     writes both files into FOLDER (default ".")
//
// Everything is computed here, deterministically: running it again gives the
// same files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <turbojpeg.h>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kHorizon = 212;

struct Colour {
    double r, g, b;
};
Colour operator*(Colour c, double k) { return {c.r * k, c.g * k, c.b * k}; }
Colour operator+(Colour a, Colour b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
Colour Mix(Colour a, Colour b, double t) { return a * (1 - t) + b * t; }

// Smooth value noise in [0, 1], from a hash of the lattice points.
double Hash(int x, int y, int seed) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u +
                 static_cast<uint32_t>(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return ((h ^ (h >> 16)) & 0xFFFFFF) / double(0xFFFFFF);
}
double Noise(double x, double y, int seed) {
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    const double fx = x - xi, fy = y - yi;
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const double a = Hash(xi, yi, seed), b = Hash(xi + 1, yi, seed);
    const double c = Hash(xi, yi + 1, seed), d = Hash(xi + 1, yi + 1, seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}
double Fractal(double x, double y, int seed) {
    double sum = 0, amplitude = 0.5;
    for (int octave = 0; octave < 4; ++octave) {
        sum += amplitude * Noise(x, y, seed + octave);
        x *= 2;
        y *= 2;
        amplitude *= 0.5;
    }
    return sum;
}

// One sample of the scene: its colour and its nearness (0 far .. 255 near).
struct Sample {
    Colour colour;
    double near;
};

// Lambert shading of a sphere's surface point with the light from the upper left.
double SphereLight(double nx, double ny, double nz) {
    const double lx = -0.5, ly = -0.6, lz = -0.62; // towards the light, z towards the viewer
    const double lambert = std::max(0.0, nx * lx + ny * ly + nz * lz);
    return 0.35 + 0.75 * lambert;
}

Sample Scene(double x, double y) {
    Sample s;
    // Sky: deep blue above, pale towards the horizon, with soft clouds.
    {
        const double t = std::clamp(y / kHorizon, 0.0, 1.0);
        s.colour = Mix({52, 110, 196}, {178, 212, 236}, t * t);
        const double cloud = std::clamp((Fractal(x / 90.0, y / 38.0, 11) - 0.52) * 3.2, 0.0, 1.0);
        s.colour = Mix(s.colour, {250, 250, 252}, cloud * (1 - t * 0.6));
        s.near = 0;
    }
    // Hills: two rolling ridges in the haze.
    const double ridgeFar = 168 + 18 * std::sin(x / 97.0) + 10 * std::sin(x / 41.0 + 1.3);
    const double ridgeNear = 190 + 14 * std::sin(x / 73.0 + 2.1) + 6 * std::sin(x / 23.0);
    if (y >= ridgeFar) {
        const double shade = 0.85 + 0.15 * Fractal(x / 30.0, y / 30.0, 21);
        s.colour = Colour{104, 138, 150} * shade;
        s.near = 24;
    }
    if (y >= ridgeNear) {
        const double shade = 0.8 + 0.25 * Fractal(x / 22.0, y / 22.0, 31);
        s.colour = Colour{78, 124, 84} * shade;
        s.near = 40;
    }
    // Lawn: comes nearer row by row towards the bottom of the picture, mown in
    // stripes.
    if (y >= kHorizon) {
        const double t = (y - kHorizon) / (kHeight - kHorizon);
        const double stripe = (static_cast<int>((x + (y - kHorizon) * 0.9) / 60) % 2) ? 1.0 : 0.88;
        const double blades = 0.75 + 0.4 * Fractal(x / 3.0, y / 9.0, 41);
        s.colour = Colour{74, 146, 58} * (stripe * blades * (0.8 + 0.3 * t));
        s.near = 56 + 84 * t;
    }
    // The fence: weathered pickets across the lawn, with two rails behind them.
    if (y >= 196 && y < 268) {
        const double pitch = 34, picket = 24;
        const double u = std::fmod(x, pitch);
        const double tip = 196 + std::fabs(u - picket / 2) * 0.8; // pointed tops
        const bool onPicket = u < picket && y >= tip;
        const bool onRail = (y >= 214 && y < 224) || (y >= 246 && y < 256);
        if (onPicket || onRail) {
            const double grain = 0.8 + 0.3 * Fractal(x / 2.0, y / 14.0, 51);
            const double edge = onPicket ? 0.85 + 0.15 * std::sin(u / picket * M_PI) : 0.7;
            s.colour = Colour{196, 170, 128} * (grain * edge);
            s.near = onPicket ? 96 : 90;
        }
    }
    // The tree: a trunk, and a round crown that bulges towards the eye.
    {
        const double trunkX = 136, trunkHalf = 15 + (y - 200) * 0.04;
        if (y >= 150 && y < 330 && std::fabs(x - trunkX) < trunkHalf) {
            const double across = (x - trunkX) / trunkHalf;
            const double bark = 0.7 + 0.4 * Fractal(x / 3.0, y / 16.0, 61);
            s.colour =
                Colour{104, 72, 46} *
                (bark * (0.55 + 0.45 * std::sqrt(1 - across * across)) * (across < 0 ? 1.15 : 0.9));
            s.near = 120 + 20 * std::sqrt(std::max(0.0, 1 - across * across));
        }
        const double cx = 140, cy = 128, r = 96;
        const double dx = (x - cx) / r, dy = (y - cy) / (r * 0.85);
        const double rr = dx * dx + dy * dy + 0.18 * (Fractal(x / 18.0, y / 18.0, 71) - 0.5);
        if (rr < 1) {
            const double nz = std::sqrt(std::max(0.0, 1 - dx * dx - dy * dy));
            const double leaves = 0.65 + 0.55 * Fractal(x / 6.0, y / 6.0, 81);
            s.colour = Colour{58, 118, 44} * (SphereLight(dx, dy, -nz) * leaves);
            s.near = 130 + 40 * nz;
        }
    }
    // The flower pot: terracotta, round, with a rim; flowers above it.
    {
        const double cx = 492, top = 316, bottom = 448;
        const double halfTop = 70, halfBottom = 50;
        if (y >= top && y < bottom) {
            const double t = (y - top) / (bottom - top);
            const double half = halfTop + (halfBottom - halfTop) * t + (y < top + 16 ? 6 : 0);
            const double across = (x - cx) / half;
            if (std::fabs(across) < 1) {
                const double nz = std::sqrt(1 - across * across);
                const double clay = 0.85 + 0.2 * Fractal(x / 5.0, y / 5.0, 91);
                const double rimShade = y < top + 16 ? 1.1 : 1.0;
                s.colour = Colour{190, 96, 58} * (SphereLight(across, 0.1, -nz) * clay * rimShade);
                s.near = 178 + 34 * nz;
            }
        }
        // Leaves and five flowers standing out of the pot.
        const double flowerX[5] = {446, 474, 500, 528, 552};
        const double flowerY[5] = {268, 236, 222, 246, 276};
        const Colour petals[5] = {
            {222, 48, 62}, {246, 200, 40}, {236, 90, 150}, {246, 200, 40}, {222, 48, 62}};
        for (int i = 0; i < 5; ++i) {
            // Stem.
            if (std::fabs(x - flowerX[i] - (y - flowerY[i]) * 0.08) < 2.5 && y > flowerY[i] &&
                y < top + 4) {
                s.colour = Colour{60, 120, 40} * (0.9 + 0.2 * Noise(x, y / 4, 101));
                s.near = 196;
            }
            const double dx = x - flowerX[i], dy = y - flowerY[i];
            const double angle = std::atan2(dy, dx);
            const double radius = 20 + 6 * std::cos(5 * angle + i);
            const double d = std::sqrt(dx * dx + dy * dy);
            if (d < radius) {
                const double k = d / radius;
                s.colour = d < 7 ? Colour{120, 70, 20} * (1.1 - 0.3 * k)
                                 : petals[i] *
                                       (0.75 + 0.35 * (1 - k) + 0.1 * Noise(angle * 3, k * 4, 111));
                s.near = 214 + 16 * (1 - k);
            }
        }
    }
    // The ball: nearest of all, red and white, shining.
    {
        const double cx = 300, cy = 404, r = 58;
        const double dx = (x - cx) / r, dy = (y - cy) / r;
        const double rr = dx * dx + dy * dy;
        if (rr < 1) {
            const double nz = std::sqrt(1 - rr);
            const double band = std::fmod(std::atan2(dy, dx * 0.8 + nz * 0.6) + 4 * M_PI, M_PI / 3);
            const Colour base = band < M_PI / 6 ? Colour{214, 40, 44} : Colour{240, 238, 230};
            const double light = SphereLight(dx, dy, -nz);
            const double shine =
                std::pow(std::max(0.0, 1 - std::hypot(dx + 0.38, dy + 0.42) * 3.2), 2) * 180;
            s.colour = base * light + Colour{shine, shine, shine};
            s.near = 200 + 55 * nz;
        }
    }
    // A soft shadow of the ball and the pot on the lawn.
    if (y >= kHorizon && s.near < 150) {
        const double ball = std::hypot((x - 322) / 70.0, (y - 460) / 14.0);
        const double pot = std::hypot((x - 512) / 84.0, (y - 452) / 12.0);
        const double shadow = std::min(std::clamp(ball, 0.0, 1.0), std::clamp(pot, 0.0, 1.0));
        s.colour = s.colour * (0.55 + 0.45 * shadow);
    }
    return s;
}

uint8_t Clamp8(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

bool WriteFile(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void Put32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// The depth image as Tovelle's template has it: 8 bits per pixel, a 40-byte
// header, a 256-entry grey ramp, rows bottom-up.
std::vector<uint8_t> DepthBmp(const std::vector<uint8_t> &near) {
    const size_t stride = (kWidth + 3) / 4 * 4;
    const size_t offset = 14 + 40 + 1024;
    std::vector<uint8_t> file(offset + stride * kHeight);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<uint32_t>(file.size()));
    Put32(file, 10, static_cast<uint32_t>(offset));
    Put32(file, 14, 40);
    Put32(file, 18, kWidth);
    Put32(file, 22, kHeight);
    file[26] = 1; // planes
    file[28] = 8; // bits per pixel
    Put32(file, 34, static_cast<uint32_t>(stride * kHeight));
    Put32(file, 38, 2835); // 72 dots per inch
    Put32(file, 42, 2835);
    for (int i = 0; i < 256; ++i)
        Put32(file, 54 + 4 * static_cast<size_t>(i), static_cast<uint32_t>(i) * 0x010101u);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            file[offset + stride * static_cast<size_t>(kHeight - 1 - y) + static_cast<size_t>(x)] =
                near[static_cast<size_t>(y) * kWidth + static_cast<size_t>(x)];
    return file;
}

} // namespace

int main(int argc, char **argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";
    std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    std::vector<uint8_t> near(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            // Four samples a pixel smooth the photo's edges; the depth image keeps
            // hard edges, as painted ones have.
            Colour sum{0, 0, 0};
            for (int s = 0; s < 4; ++s)
                sum = sum + Scene(x + 0.25 + 0.5 * (s & 1), y + 0.25 + 0.5 * (s >> 1)).colour;
            const size_t i = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
            rgb[3 * i] = Clamp8(sum.r / 4);
            rgb[3 * i + 1] = Clamp8(sum.g / 4);
            rgb[3 * i + 2] = Clamp8(sum.b / 4);
            near[i] = Clamp8(Scene(x + 0.5, y + 0.5).near);
        }

    tjhandle tj = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int rc = tjCompress2(tj, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &jpeg, &jpegSize,
                               TJSAMP_420, 90, 0);
    bool ok = rc == 0 && WriteFile(folder + "/garden.jpg", jpeg, jpegSize);
    tjFree(jpeg);
    tjDestroy(tj);
    const std::vector<uint8_t> bmp = DepthBmp(near);
    ok = ok && WriteFile(folder + "/garden_.bmp", bmp.data(), bmp.size());
    if (!ok) {
        std::fprintf(stderr, "qrv-make-samples: cannot write the samples into '%s'\n",
                     folder.c_str());
        return 1;
    }
    std::printf("wrote %s/garden.jpg and %s/garden_.bmp\n", folder.c_str(), folder.c_str());
    return 0;
}
