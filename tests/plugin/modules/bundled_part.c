// A library of the "bundled-parts" bundle that its module needs and that needs bundled_base.c in turn.
int bundledBase(void);
int bundledPart(void);

int bundledPart(void)
{
    return bundledBase() + 1;
}
