// The invited event and the people of the show. All of it is invented for this production.
#pragma once

namespace gen::event {

inline constexpr const char* name = "QUARZELL";
inline constexpr const char* year = "2027";
inline constexpr const char* dates = "21 - 23 May 2027";
inline constexpr const char* place = "Harbour Hall Nord";
inline constexpr const char* town = "Varnholm";

// Credits: role, handle.
inline constexpr const char* credits[3][2] = {
    {"code", "quillon"}, {"graphics", "marra"}, {"music", "dubnik"}};

// Greetings, in scroll order.
inline constexpr const char* greetings[] = {
    "Brass Vector",     "Coil & Comet",   "Dot Nomads",      "Fjordbyte",    "Glimmerhaus",
    "Hexagon Dairy",    "Lumen Parish",   "Mothwave",        "Null Orchard", "Orbit Kiln",
    "Pelican Overflow", "Quiet Raster",   "Rust Choir",      "Saffron Loop", "Sinewood",
    "Tessel Ferry",     "Tinfoil Atlas",  "Umbra Juice",     "Velvet Carry", "Wrenbyte",
    "Xylo Feral",       "Yarrow Set",     "Zinc Lantern",    "Amber Relay",  "Bitmoss",
    "Cobalt Picnic",    "Dune Polygon",   "Ember Static",    "Frostkernel",  "Gravel Opera",
    "Harbour Ghosts",   "Isotope Garden", "all at Quarzell",
};

}  // namespace gen::event
