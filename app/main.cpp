#include "app/MainWindow.h"
#include "app/TApplication.h"

#include <QIcon>

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/tamblo.ico")));
    MainWindow window;
    window.show();
    return app.exec();
}
