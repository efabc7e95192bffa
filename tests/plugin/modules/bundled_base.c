// The library at the bottom of the "bundled-parts" bundle, needed by bundled_part.c.
int bundledBase(void);

int bundledBase(void)
{
    return 1;
}
