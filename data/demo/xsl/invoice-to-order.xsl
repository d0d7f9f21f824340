<?xml version="1.0" encoding="UTF-8"?>
<!--
  An invoice in standard form (INVOICE) turned into a purchase order in standard form
  (ORDER): the buyer orders again what was invoiced. The customer becomes the buyer, the
  supplier stays the supplier, and the order number refers to the invoice. Lines that are
  no goods (freight, services: units LS and H) are left out, and so are credited lines.

  The routing tags go along in ROUTING, except the type, which now is ORDER.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" indent="yes" encoding="UTF-8"/>

  <xsl:template match="/">
    <xsl:if test="not(INVOICE)">
      <xsl:message terminate="yes">Only an invoice in standard form can become an order; the root element is <xsl:value-of select="name(*)"/>.</xsl:message>
    </xsl:if>
    <xsl:apply-templates select="INVOICE"/>
  </xsl:template>

  <xsl:template match="INVOICE">
    <xsl:variable name="h" select="HEADER"/>
    <xsl:variable name="goods"
        select="LINES/LINE[QUANTITY/@unit != 'LS' and QUANTITY/@unit != 'H' and number(QUANTITY) &gt; 0]"/>
    <ORDER>
      <ROUTING>
        <xsl:for-each select="ROUTING/*">
          <xsl:choose>
            <xsl:when test="name() = 'DOCTYPE-ID'"><DOCTYPE-ID>ORDER</DOCTYPE-ID></xsl:when>
            <xsl:otherwise><xsl:copy-of select="."/></xsl:otherwise>
          </xsl:choose>
        </xsl:for-each>
        <xsl:if test="not(ROUTING/DOCTYPE-ID)"><DOCTYPE-ID>ORDER</DOCTYPE-ID></xsl:if>
      </ROUTING>
      <HEADER>
        <ORDERNUMBER><xsl:value-of select="concat('RE-', $h/INVOICENUMBER)"/></ORDERNUMBER>
        <ORDERDATE><xsl:value-of select="$h/INVOICEDATE"/></ORDERDATE>
        <REQUESTEDDELIVERY/>
        <CURRENCY><xsl:value-of select="$h/CURRENCY"/></CURRENCY>
        <PAYMENTTERMS><xsl:value-of select="$h/PAYMENTTERMS"/></PAYMENTTERMS>
        <BUYER>
          <CODE><xsl:value-of select="$h/CUSTOMER/CODE"/></CODE>
          <NAME><xsl:value-of select="$h/CUSTOMER/NAME"/></NAME>
          <CONTACTNAME/>
          <PHONE/>
        </BUYER>
        <SUPPLIER>
          <CODE><xsl:value-of select="$h/SUPPLIER/CODE"/></CODE>
          <NAME><xsl:value-of select="$h/SUPPLIER/NAME"/></NAME>
        </SUPPLIER>
        <DELIVERYADDRESS>
          <NAME><xsl:value-of select="$h/CUSTOMER/NAME"/></NAME>
          <xsl:copy-of select="$h/CUSTOMER/STREET"/>
          <xsl:copy-of select="$h/CUSTOMER/POSTCODE"/>
          <xsl:copy-of select="$h/CUSTOMER/CITY"/>
          <xsl:copy-of select="$h/CUSTOMER/COUNTRY"/>
        </DELIVERYADDRESS>
        <REMARK>
          <xsl:value-of select="concat('Repeat of the goods of invoice ', $h/INVOICENUMBER)"/>
          <xsl:if test="normalize-space($h/ORDERREFERENCE) != ''">
            <xsl:value-of select="concat(' (order ', $h/ORDERREFERENCE, ')')"/>
          </xsl:if>
          <xsl:text>.</xsl:text>
        </REMARK>
      </HEADER>
      <LINES>
        <xsl:for-each select="$goods">
          <LINE number="{position()}">
            <xsl:copy-of select="ITEM"/>
            <xsl:copy-of select="DESCRIPTION"/>
            <xsl:copy-of select="QUANTITY"/>
            <xsl:copy-of select="UNITPRICE"/>
            <xsl:copy-of select="AMOUNT"/>
          </LINE>
        </xsl:for-each>
      </LINES>
      <TOTAL lines="{count($goods)}">
        <xsl:value-of select="format-number(sum($goods/AMOUNT), '0.00')"/>
      </TOTAL>
    </ORDER>
  </xsl:template>
</xsl:stylesheet>
