// Spanish: insults, sexual terms and the usual phrases across Spain and Latin America,
// plus the abbreviations people type instead of them. Most words are stored with a
// capital, as they usually open an outburst; matching folds ASCII case, so the case
// only shows in the entry text reported to callers.
#include "data/tables.hpp"

namespace tarnwhisk::tables {
namespace {
constexpr Category S = Category::Strong;

// Every base row is Strong with severity 2. A phrase, or a word of 12 bytes or more, is
// strict: such texts are unlikely inside innocent words, and catching them inside
// compounds and run-together text is worth it. Shorter single words must stand alone,
// or they would flag innocent words that contain them.
constexpr WordRow kBase[] = {
    {"Puta", S, 2, false},
    {"Puto", S, 2, false},
    {"Putón", S, 2, false},
    {"Mierda", S, 2, false},
    {"Pendejo", S, 2, false},
    {"Cabrón", S, 2, false},
    {"Coño", S, 2, false},
    {"Joder", S, 2, false},
    {"Jodido", S, 2, false},
    {"Gilipollas", S, 2, false},
    {"Cojones", S, 2, false},
    {"Cojudo", S, 2, false},
    {"Culo", S, 2, false},
    {"Culero", S, 2, false},
    {"Culiao", S, 2, false},
    {"Verga", S, 2, false},
    {"Polla", S, 2, false},
    {"Chocho", S, 2, false},
    {"Chingar", S, 2, false},
    {"Chingada", S, 2, false},
    {"Pinche", S, 2, false},
    {"Mamón", S, 2, false},
    {"Mamahuevo", S, 2, false},
    {"Maricón", S, 2, false},
    {"Marica", S, 2, false},
    {"Mariconazo", S, 2, false},
    {"Ramera", S, 2, false},
    {"Furcia", S, 2, false},
    {"Guarra", S, 2, false},
    {"Pajero", S, 2, false},
    {"Pajillero", S, 2, false},
    {"Follar", S, 2, false},
    {"Malparido", S, 2, false},
    {"Huevón", S, 2, false},
    {"Boludo", S, 2, false},
    {"Pelotudo", S, 2, false},
    {"Carajo", S, 2, false},
    {"Sudaca", S, 2, false},
    {"Marimacho", S, 2, false},
    {"Bollera", S, 2, false},
    {"Comemierda", S, 2, false},
    {"Soplapollas", S, 2, false},
    {"Chupapollas", S, 2, false},
    {"Ojete", S, 2, false},
    {"Hijueputa", S, 2, false},
    {"Conchudo", S, 2, false},
    {"Cagón", S, 2, false},
    {"Cojón", S, 2, false},
    {"Chúpamela", S, 2, false},
    {"Mamagüevo", S, 2, false},
    {"Pichula", S, 2, false},
    {"hdp", S, 2, false},
    {"ctm", S, 2, false},
    {"ptm", S, 2, false},
    {"csm", S, 2, false},
    {"hpta", S, 2, false},
    {"chtm", S, 2, false},
    {"porno", S, 2, false},
    {"Hijo de puta", S, 2, true},
    {"Hijo de perra", S, 2, true},
    {"Vete a la mierda", S, 2, true},
    {"Me cago en tu madre", S, 2, true},
    {"Me cago en la hostia", S, 2, true},
    {"Chinga tu madre", S, 2, true},
    {"Tu puta madre", S, 2, true},
    {"Que te jodan", S, 2, true},
    {"Concha de tu madre", S, 2, true},
    {"Hijo de la chingada", S, 2, true},
};
}  // namespace

std::span<const WordRow> es_base() noexcept { return kBase; }

}  // namespace tarnwhisk::tables
