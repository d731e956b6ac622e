// qvArchiwizator: archives the ledger program's company data into .cab files.
#include "app/AppInteraction.h"
#include "app/Program.h"

int main(int argc, char **argv)
{
    qv::TApplication app(argc, argv);
    qv::AppInteraction ui;
    return qv::RunWindowProgram(app, ui);
}
