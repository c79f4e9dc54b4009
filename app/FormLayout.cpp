#include "app/FormLayout.h"

#include "app/Form1.h"
#include "app/Texts.h"

#include <stdexcept>
#include <string_view>

namespace app {

namespace {

// The rows are built at compile time too, so that the checks below hold before anything runs.
constexpr FontStyle plain{8, false};
constexpr FontStyle counter{12, true};
constexpr FontStyle title{14, true};
constexpr FontStyle emphasis{8, true};

constexpr std::vector<ControlDescription> form1Controls() {
    using enum ControlId;
    using K = ControlKind;
    return {
        {101, Panel1, "Panel1", K::Panel, Form, 8, 8, 577, 41, panel1Text, title, clBlack},
        {102, Button1, "Button1", K::Button, Panel1, 400, 8, 41, 25, "log", plain, clBlack,
         &Form1::Button1Click},
        {103, Shape1, "Shape1", K::Shape, Panel1, 448, 8, 18, 18, "", plain, clGreen},
        {104, ComboBox1, "ComboBox1", K::ComboBox, Panel1, 473, 8, 89, 28, "", counter, clBlack},
        {105, BitBtn2, "BitBtn2", K::StartButton, Form, 410, 56, 175, 42, "Abre Porta", plain,
         clBlack, &Form1::BitBtn2Click},
        {106, BitBtn6, "BitBtn6", K::CloseButton, Form, 410, 108, 175, 42, "&Close", plain, clBlack,
         &Form1::BitBtn6Click},
        {107, Panel2, "Panel2", K::Panel, Form, 8, 56, 393, 97, "", plain, clBlack},
        {108, Label1, "Label1", K::Label, Panel2, 16, 16, 0, 0, "Número: ", counter, clGreen},
        {109, Label2, "Label2", K::Label, Panel2, 106, 16, 0, 0, "0", counter, clGreen},
        {110, Label3, "Label3", K::Label, Panel2, 16, 40, 0, 0, "Tentativas:", counter, clRed},
        {111, Label4, "Label4", K::Label, Panel2, 106, 40, 0, 0, "0", counter, clRed},
        {112, Label5, "Label5", K::Label, Panel2, 184, 16, 0, 0, "Registro: ", counter, clNavy},
        {113, Label7, "Label7", K::Label, Panel2, 272, 16, 0, 0, "0", counter, clNavy},
        {114, Label6, "Label6", K::Label, Panel2, 184, 40, 0, 0, "Erros : ", counter, clRed},
        {115, Label8, "Label8", K::Label, Panel2, 272, 40, 0, 0, "0", counter, clRed},
        // After Panel2, so that it lies over the panel's lower part.
        {116, ProgressBar1, "ProgressBar1", K::ProgressBar, Form, 24, 120, 353, 16, "", plain,
         clBlack},
        {117, RichEdit1, "RichEdit1", K::HiddenText, Form, 8, 136, 361, 17, "", plain, clBlack},
        {118, Label9, "Label9", K::Label, Form, 16, 160, 0, 0, label9Text, plain, clBlack},
        {119, Label11, "Label11", K::Label, Form, 48, 176, 0, 0, label11Text, plain, clBlack},
        {120, Label12, "Label12", K::Label, Form, 40, 192, 0, 0, label12Text, plain, clBlack},
        {121, Label13, "Label13", K::Label, Form, 120, 208, 0, 0, label13Text, plain, clBlack},
        {122, Label10, "Label10", K::Label, Form, 184, 232, 0, 0, label10Text, emphasis, clBlack},
    };
}

constexpr std::vector<ControlDescription> form2Controls() {
    using enum ControlId;
    using K = ControlKind;
    return {
        {123, Labelatual, "Labelatual", K::Label, Form, 160, 8, 156, 24, "ATUALIZAÇÕES", title,
         clBlack},
        {124, Memolog, "Memolog", K::Memo, Form, 8, 32, 625, 393, "", plain, clBlack},
    };
}

// Automation tools find a control by its id, the code by its name: no two rows of the program
// share either.
constexpr bool keysDistinct() {
    std::vector<ControlDescription> all = form1Controls();
    for (const auto& c : form2Controls())
        all.push_back(c);
    for (std::size_t i = 0; i < all.size(); ++i)
        for (std::size_t j = i + 1; j < all.size(); ++j)
            if (all[i].win32Id == all[j].win32Id || all[i].id == all[j].id ||
                std::string_view(all[i].name) == all[j].name)
                return false;
    return true;
}
static_assert(keysDistinct(), "two controls share a Win32 id or a name");

} // namespace

const FormDescription& form1Layout() {
    static const FormDescription form{"Form1", programTitle,   590, 263, true,
                                      false,   form1Controls()};
    return form;
}

const FormDescription& form2Layout() {
    static const FormDescription form{"Form2", changeLogCaption, 682, 497, false,
                                      true,    form2Controls()};
    return form;
}

const ControlDescription& describedControl(const FormDescription& form, ControlId id) {
    for (const auto& c : form.controls)
        if (c.id == id) return c;
    throw std::out_of_range(std::string("no such control in ") + form.name);
}

int win32IdOf(ControlId id) {
    for (const FormDescription* form : {&form1Layout(), &form2Layout()})
        for (const auto& c : form->controls)
            if (c.id == id) return c.win32Id;
    throw std::out_of_range("no such control");
}

} // namespace app
