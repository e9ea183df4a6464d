#include "provider.h"

#include <array>

namespace demo {
namespace {

using namespace std::string_view_literals;

const std::array kBranches = {
    Branch{1, "Sertão Fibra Telecomunicações Ltda", "Sertão Fibra", "07.526.557/0001-00", 1},
    Branch{2, "Sertão Fibra Telecomunicações Ltda - Filial Cariri", "Sertão Fibra Cariri",
           "07.526.557/0002-91", 4},
    Branch{3, "Sertão Fibra Telecomunicações Ltda - Filial Sobral", "Sertão Fibra Sobral",
           "07.526.557/0003-72", 6},
    Branch{4, "Jangada Net Serviços de Internet Ltda", "Jangada Net", "18.331.402/0001-07", 2},
};

const std::array kCities = {
    City{1,
         "Fortaleza",
         "2304400",
         1,
         "85",
         {"Aldeota",
          "Meireles",
          "Benfica",
          "Messejana",
          "Parangaba",
          "Montese",
          "José Bonifácio",
          "Pirambu",
          "Conjunto Ceará",
          "Barra do Ceará",
          "Jacarecanga",
          "Fátima",
          "Cocó",
          "Papicu",
          "Mucuripe",
          "Bom Jardim",
          "Granja Portugal",
          "Álvaro Weyne",
          "Antônio Bezerra",
          "Praia de Iracema",
          "Água Fria",
          "Cidade dos Funcionários",
          "Parquelândia",
          "São João do Tauape",
          "Jardim Guanabara"}},
    City{2,
         "Caucaia",
         "2303709",
         4,
         "85",
         {"Centro", "Jurema", "Icaraí", "Cumbuco", "Parque Soledade", "Araturi"}},
    City{3,
         "Maracanaú",
         "2307650",
         1,
         "85",
         {"Centro", "Jereissati", "Acaracuzinho", "Pajuçara", "Timbó"}},
    City{4,
         "Juazeiro do Norte",
         "2307304",
         2,
         "88",
         {"Centro", "Triângulo", "Lagoa Seca", "Pirajá", "Romeirão", "São Miguel", "Salesianos",
          "Franciscanos"}},
    City{5, "Crato", "", 2, "88", {"Centro", "Pimenta", "Seminário", "São Miguel", "Muriti"}},
    City{6,
         "Sobral",
         "2312908",
         3,
         "88",
         {"Centro", "Derby Clube", "Expectativa", "Sumaré", "Junco", "Dom Expedito"}},
    City{7, "Itapipoca", "", 3, "88", {"Centro", "Fazendinha", "Boa Vista"}},
    City{8, "Iguatu", "", 2, "88", {"Centro", "Prado", "Areias", "Chapadinha"}},
    City{9, "Quixadá", "", 1, "88", {"Centro", "Campo Novo", "Combate", "Planalto Universitário"}},
    City{10, "Barbalha", "", 2, "88", {"Centro", "Malvinas", "Alto da Alegria"}},
};

const std::array kGivenMale = {
    "João"sv,     "José"sv,     "Antônio"sv,  "Francisco"sv, "Carlos"sv, "Paulo"sv,  "Pedro"sv,
    "Lucas"sv,    "Luís"sv,     "Marcos"sv,   "Raimundo"sv,  "Rafael"sv, "Daniel"sv, "Marcelo"sv,
    "Bruno"sv,    "Fábio"sv,    "Vinícius"sv, "Sérgio"sv,    "Márcio"sv, "Cícero"sv, "Damião"sv,
    "Expedito"sv, "Edmílson"sv, "Cláudio"sv,  "Otávio"sv,    "Tiago"sv,  "Heitor"sv, "Benício"sv,
};

const std::array kGivenFemale = {
    "Maria"sv,    "Ana"sv,      "Francisca"sv, "Antônia"sv, "Adriana"sv, "Juliana"sv,   "Márcia"sv,
    "Fernanda"sv, "Patrícia"sv, "Aline"sv,     "Camila"sv,  "Letícia"sv, "Jéssica"sv,   "Luíza"sv,
    "Sônia"sv,    "Cláudia"sv,  "Conceição"sv, "Lúcia"sv,   "Vitória"sv, "Beatriz"sv,   "Mônica"sv,
    "Débora"sv,   "Bárbara"sv,  "Cecília"sv,   "Inês"sv,    "Ângela"sv,  "Rosângela"sv, "Valéria"sv,
    "Raimunda"sv, "Glória"sv,   "Júlia"sv,     "Tânia"sv,
};

const std::array kSurnames = {
    "Silva"sv,      "Santos"sv,   "Oliveira"sv,   "Souza"sv,      "Rodrigues"sv, "Ferreira"sv,
    "Alves"sv,      "Pereira"sv,  "Lima"sv,       "Gomes"sv,      "Costa"sv,     "Ribeiro"sv,
    "Martins"sv,    "Carvalho"sv, "Almeida"sv,    "Lopes"sv,      "Soares"sv,    "Vieira"sv,
    "Barbosa"sv,    "Rocha"sv,    "Nascimento"sv, "Andrade"sv,    "Moreira"sv,   "Nunes"sv,
    "Freitas"sv,    "Cardoso"sv,  "Gonçalves"sv,  "Araújo"sv,     "Magalhães"sv, "Conceição"sv,
    "Brandão"sv,    "Gusmão"sv,   "Simões"sv,     "Guimarães"sv,  "Falcão"sv,    "Leitão"sv,
    "Sampaio"sv,    "Holanda"sv,  "Bezerra"sv,    "Cavalcante"sv, "Jucá"sv,      "Aragão"sv,
    "Sá"sv,         "Macêdo"sv,   "Damasceno"sv,  "D'Ávila"sv,    "Sant'Anna"sv, "D'Almeida"sv,
    "D'Oliveira"sv, "Assunção"sv, "Romão"sv,      "Frota"sv,      "Tavares"sv,   "Pinheiro"sv,
    "Feitosa"sv,    "Queiroz"sv,  "Mourão"sv,     "Batista"sv,    "Melo"sv,      "Xavier"sv,
};

const std::array kParticles = {
    "da Silva"sv,     "dos Santos"sv, "de Sousa"sv,   "de Oliveira"sv,
    "da Costa"sv,     "de Sá"sv,      "das Chagas"sv, "do Nascimento"sv,
    "da Conceição"sv, "de Assis"sv,   "de Jesus"sv,   "do Carmo"sv,
};

const std::array kBusinesses = {
    "Mercearia"sv,
    "Padaria"sv,
    "Farmácia"sv,
    "Mercadinho"sv,
    "Açougue"sv,
    "Lanchonete"sv,
    "Restaurante"sv,
    "Oficina Mecânica"sv,
    "Auto Peças"sv,
    "Papelaria"sv,
    "Clínica Odontológica"sv,
    "Escola Infantil"sv,
    "Pousada"sv,
    "Academia"sv,
    "Distribuidora"sv,
    "Construtora"sv,
    "Ótica"sv,
    "Sorveteria"sv,
    "Pizzaria"sv,
    "Lava-Jato"sv,
    "Salão de Beleza"sv,
    "Borracharia"sv,
    "Armarinho"sv,
    "Associação dos Moradores"sv,
};

const std::array kTradeNames = {
    "São José"sv,
    "Santa Luzia"sv,
    "Boa Vista"sv,
    "Bom Jesus"sv,
    "Nossa Senhora de Fátima"sv,
    "Pão Quente"sv,
    "Três Irmãos"sv,
    "Estrela do Sertão"sv,
    "Beira-Mar"sv,
    "Iracema"sv,
    "Cajueiro"sv,
    "Carnaúba"sv,
    "do Zé"sv,
    "da Tia Léa"sv,
    "Sabor & Arte"sv,
    "D'Ávila"sv,
    "Sant'Anna"sv,
    "Irmãos D'Almeida"sv,
    "Açaí da Praia 🍇"sv,
    "Mandacaru"sv,
    "Asa Branca"sv,
    "Padre Cícero"sv,
    "Progresso"sv,
};

const std::array kLegalForms = {
    " Ltda"sv, " ME"sv, " EIRELI"sv, " Ltda - ME"sv, " S/A"sv, " & Cia Ltda"sv, " MEI"sv, ""sv,
};

const std::array kStreets = {
    "Rua José de Alencar"sv,   "Avenida Dom Luís"sv,           "Rua Dom Pedro II"sv,
    "Avenida Santos Dumont"sv, "Rua Barão de Studart"sv,       "Rua Padre Cícero"sv,
    "Avenida Treze de Maio"sv, "Rua Dragão do Mar"sv,          "Rua Tibúrcio Cavalcante"sv,
    "Avenida Leste-Oeste"sv,   "Travessa Frei Damião"sv,       "Rua São João"sv,
    "Rua Senador Pompeu"sv,    "Avenida Bezerra de Menezes"sv, "Rua Major Facundo"sv,
};

const std::array<Cents, 7> kHomePlans = {6990, 7990, 8990, 9990, 11990, 14990, 19990};
const std::array<Cents, 5> kBusinessPlans = {19990, 29990, 49900, 89000, 129000};

const NameWords kWords = {kGivenMale,  kGivenFemale, kSurnames,   kParticles,
                          kBusinesses, kTradeNames,  kLegalForms, kStreets};

}  // namespace

std::span<const Branch> branches() { return kBranches; }
std::span<const City> cities() { return kCities; }
const NameWords& name_words() { return kWords; }
std::span<const Cents> home_plans() { return kHomePlans; }
std::span<const Cents> business_plans() { return kBusinessPlans; }

}  // namespace demo
