// Nothing of its own: a shared object made of one static library, to see that library link alone.
