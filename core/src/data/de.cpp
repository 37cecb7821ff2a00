// German: swear words, insults, slurs and the English loans German speakers use.
#include "data/tables.hpp"

namespace tarnwhisk::tables {
namespace {
constexpr Category S = Category::Strong;

// Every base row is Strong with severity 2. A phrase, or a word of 12 bytes or more, is
// strict: such texts are unlikely inside innocent words, and catching them inside
// compounds and run-together text is worth it. Shorter single words must stand alone,
// or they would flag innocent words that contain them.
constexpr WordRow kBase[] = {
    {"arsch", S, 2, false},
    {"arschloch", S, 2, false},
    {"arschgeige", S, 2, false},
    {"arschficker", S, 2, false},
    {"fick", S, 2, false},
    {"ficken", S, 2, false},
    {"ficker", S, 2, false},
    {"fickt", S, 2, false},
    {"gefickt", S, 2, false},
    {"fickfresse", S, 2, false},
    {"fickfehler", S, 2, false},
    {"wichser", S, 2, false},
    {"wixer", S, 2, false},
    {"pisser", S, 2, false},
    {"hurensohn", S, 2, false},
    {"hurenbock", S, 2, false},
    {"huso", S, 2, false},
    {"hure", S, 2, false},
    {"huren", S, 2, false},
    {"nutte", S, 2, false},
    {"schlampe", S, 2, false},
    {"flittchen", S, 2, false},
    {"fotze", S, 2, false},
    {"fotzen", S, 2, false},
    {"drecksfotze", S, 2, false},
    {"möse", S, 2, false},
    {"dödel", S, 2, false},
    {"pimmel", S, 2, false},
    {"titten", S, 2, false},
    {"bumsen", S, 2, false},
    {"scheiß", S, 2, false},
    {"scheiße", S, 2, false},
    {"scheißkerl", S, 2, false},
    {"scheiss", S, 2, false},
    {"scheisse", S, 2, false},
    {"kacke", S, 2, false},
    {"kackbratze", S, 2, false},
    {"drecksau", S, 2, false},
    {"dreckshure", S, 2, false},
    {"dreckskerl", S, 2, false},
    {"mistkerl", S, 2, false},
    {"miststück", S, 2, false},
    {"hackfresse", S, 2, false},
    {"sackgesicht", S, 2, false},
    {"missgeburt", S, 2, false},
    {"pissnelke", S, 2, false},
    {"spacko", S, 2, false},
    {"spast", S, 2, false},
    {"spasti", S, 2, false},
    {"vollidiot", S, 2, false},
    {"trottel", S, 2, false},
    {"schwuchtel", S, 2, false},
    {"tunte", S, 2, false},
    {"transe", S, 2, false},
    {"kanake", S, 2, false},
    {"kanacke", S, 2, false},
    {"polacke", S, 2, false},
    {"neger", S, 2, false},
    {"verpissdich", S, 2, false},
    {"schwanzlutscher", S, 2, true},
    {"Bitch", S, 2, false},
    {"bastard", S, 2, false},
    {"dildo", S, 2, false},
    {"milf", S, 2, false},
    {"gangbang", S, 2, false},
    {"blowjob", S, 2, false},
};
}  // namespace

std::span<const WordRow> de_base() noexcept { return kBase; }

}  // namespace tarnwhisk::tables
