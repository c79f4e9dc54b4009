#include "app/FormLayout.h"

#include "app/Texts.h"

#include <stdexcept>

namespace app {

const FormDescription& form1Layout() {
    using enum ControlId;
    using K = ControlKind;
    constexpr FontStyle plain{8, false};
    constexpr FontStyle counter{12, true};
    static const FormDescription form{
        "Form1",
        programTitle,
        590,
        263,
        true,
        false,
        {
            {Panel1, "Panel1", K::Panel, Form, 8, 8, 577, 41, panel1Caption(), {14, true}, clBlack},
            {Button1, "Button1", K::Button, Panel1, 400, 8, 41, 25, "log", plain, clBlack},
            {Shape1, "Shape1", K::Shape, Panel1, 448, 8, 18, 18, "", plain, clGreen},
            {ComboBox1, "ComboBox1", K::ComboBox, Panel1, 473, 8, 89, 28, "", counter, clBlack},
            {BitBtn2, "BitBtn2", K::StartButton, Form, 410, 56, 175, 42, "Abre Porta", plain,
             clBlack},
            {BitBtn6, "BitBtn6", K::CloseButton, Form, 410, 108, 175, 42, "&Close", plain, clBlack},
            {Panel2, "Panel2", K::Panel, Form, 8, 56, 393, 97, "", plain, clBlack},
            {Label1, "Label1", K::Label, Panel2, 16, 16, 0, 0, "Número: ", counter, clGreen},
            {Label2, "Label2", K::Label, Panel2, 106, 16, 0, 0, "0", counter, clGreen},
            {Label3, "Label3", K::Label, Panel2, 16, 40, 0, 0, "Tentativas:", counter, clRed},
            {Label4, "Label4", K::Label, Panel2, 106, 40, 0, 0, "0", counter, clRed},
            {Label5, "Label5", K::Label, Panel2, 184, 16, 0, 0, "Registro: ", counter, clNavy},
            {Label7, "Label7", K::Label, Panel2, 272, 16, 0, 0, "0", counter, clNavy},
            {Label6, "Label6", K::Label, Panel2, 184, 40, 0, 0, "Erros : ", counter, clRed},
            {Label8, "Label8", K::Label, Panel2, 272, 40, 0, 0, "0", counter, clRed},
            // After Panel2, so that it lies over the panel's lower part.
            {ProgressBar1, "ProgressBar1", K::ProgressBar, Form, 24, 120, 353, 16, "", plain,
             clBlack},
            {RichEdit1, "RichEdit1", K::HiddenText, Form, 8, 136, 361, 17, "", plain, clBlack},
            {Label9, "Label9", K::Label, Form, 16, 160, 0, 0, label9Text, plain, clBlack},
            {Label11, "Label11", K::Label, Form, 48, 176, 0, 0, label11Text, plain, clBlack},
            {Label12, "Label12", K::Label, Form, 40, 192, 0, 0, label12Text, plain, clBlack},
            {Label13, "Label13", K::Label, Form, 120, 208, 0, 0, label13Text, plain, clBlack},
            {Label10, "Label10", K::Label, Form, 184, 232, 0, 0, label10Text, {8, true}, clBlack},
        },
    };
    return form;
}

const FormDescription& form2Layout() {
    using enum ControlId;
    static const FormDescription form{
        "Form2",
        changeLogCaption,
        682,
        497,
        false,
        true,
        {
            {Labelatual,
             "Labelatual",
             ControlKind::Label,
             Form,
             160,
             8,
             156,
             24,
             "ATUALIZAÇÕES",
             {14, true},
             clBlack},
            {Memolog, "Memolog", ControlKind::Memo, Form, 8, 32, 625, 393, "", {8, false}, clBlack},
        },
    };
    return form;
}

const ControlDescription& describedControl(const FormDescription& form, ControlId id) {
    for (const auto& c : form.controls)
        if (c.id == id) return c;
    throw std::out_of_range(std::string("no such control in ") + form.name);
}

} // namespace app
