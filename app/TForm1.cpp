#include "app/TForm1.h"

void TForm1::load(bool stopRecordingFirst)
{
    if (!recorder_.CanLoad())
        return;
    if (!OpenDialog1.Execute())
        return;
    if (stopRecordingFirst)
        recorder_.Stop();
    recorder_.Load(OpenDialog1.FileName());
}

void TForm1::kwFlatBtn5Click()
{
    try {
        recorder_.Leave();
    } catch (const std::exception &) {
        Window.Close();
        throw;
    }
    Window.Close();
}

void TForm1::FormCreate()
{
    recorder_.Start();
    Image1.setTransparent(true);
}
