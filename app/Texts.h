#pragma once

// The program's fixed texts that more than one file shows.

#include <string>

namespace app {

// Caption of the main window and of every message box the program opens.
inline constexpr const char* programTitle = "       Tarnic V1.3  Monitor 4.0";

// Shown before the main window; the lines are separated by a single carriage return each.
inline constexpr const char* startupWarning =
    "NUNCA FECHAR O PROGRAMA DURANTE A TRANSMISSÃO\r"
    "\r"
    "Ao executar este Programa certifique-se :\r"
    "     -> se a Torvin esta ligada e conectada ao PC.\r"
    "     -> se o PC está ligado a um NO-BREAK. \r"
    "     -> Use sempre cabo serial original 1,8 metros \r"
    "     -> Não use USB e ETHERNET";

inline constexpr const char* startupWarningCaption = "Information";

// The title panel's caption: the 29 trailing spaces push the text left of the panel's controls.
inline constexpr const char* panel1Text =
    "Atualizador Torvin04/05   -  v A.3  28/10/15                             ";
inline std::string panel1Caption() {
    return panel1Text;
}

// The title panel's caption while a run waits, `seconds` more at most, for answers the board may
// still owe an earlier run on the port.
inline std::string earlierAnswersCaption(long long seconds) {
    return "Aguardando respostas anteriores: " + std::to_string(seconds) + " s";
}

inline constexpr const char* changeLogCaption = "log de auterações";

// The dispenser makes and models the carried firmware drives, and the board's microcontroller.
inline constexpr const char* label9Text =
    "Bombas: Fluxmar FX-200 e FX-400  -  Vazzor VZ 3000 e VZ 5000  -  Ondira Prima";
inline constexpr const char* label11Text =
    "Calvetti CB4, CB6 e CB8  -  Bremara BR-12 e BR-20  -  Tessaro TS-2";
inline constexpr const char* label12Text =
    "Quimbra Q-Flex  -  Dorvale DV-8  -  Fluxmar FX-200 com pré-determinação";
inline constexpr const char* label13Text = "De 1 a 8 bicos por bomba";
inline constexpr const char* label10Text = "Microcontrolador PIC 18F452";

} // namespace app
